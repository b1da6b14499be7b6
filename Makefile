# Thin driver over CMake: `make run` builds the programs and runs the benchmark, `make test`
# builds the rest and runs every test. Each first looks for what its build needs and installs
# what is missing where it can (scripts/install-deps; for CXX=clang++-19, Clang 19 and LLVM's
# OpenMP too); elsewhere it names what is missing and goes on where the build can.
#
# One build folder per compiler: build/ for the default, build-clang/ when CXX names Clang; a
# folder configured for another compiler is refused in one line (scripts/build).
CHOSEN_CXX := $(if $(filter default undefined,$(origin CXX)),,$(CXX))
BUILD_DIR ?= $(if $(findstring clang,$(notdir $(CHOSEN_CXX))),build-clang,build)

.PHONY: all deps programs build run test package clean

all: build

deps:
	@CXX='$(CHOSEN_CXX)' bash scripts/install-deps

# The programs alone, with their manual pages: the benchmark, the speedup tool and, where LLVM's
# header is, the trace tool. Nothing else: the tests are built by `make test`.
programs: deps
	@CXX='$(CHOSEN_CXX)' bash scripts/build $(BUILD_DIR) programs

build:
	@CXX='$(CHOSEN_CXX)' bash scripts/install-deps --build
	@CXX='$(CHOSEN_CXX)' bash scripts/build $(BUILD_DIR)

# The report is shown converted on a UTF-8 terminal; the program's own bytes are unchanged.
run: programs
	@bash scripts/run-benchmark $(BUILD_DIR)/matbench

# The tests also start a Slurm cluster on this machine, from packages installed when possible.
# They run in parallel, twice as many as processors, as many wait on a pipe, a sleep or a
# browser; those with a wall-clock bound run alone (tests/CMakeLists.txt says which).
TEST_JOBS ?= $(shell echo $$(( $$(nproc) * 2 )))
test: build
	@CXX='$(CHOSEN_CXX)' bash scripts/install-deps --test
	@ctest --test-dir $(BUILD_DIR) --output-on-failure --no-tests=error --progress \
		--parallel $(TEST_JOBS)

# A Debian package of the benchmark and the speedup tool, in the build folder, from what the
# programs target built (the tests are not built for it).
package: programs
	@cd $(BUILD_DIR) && cpack

clean:
	rm -rf $(BUILD_DIR)
