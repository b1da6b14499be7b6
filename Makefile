# Thin driver over CMake: `make run` builds and runs the benchmark, `make test` every test.
# Both first install the Debian packages the build needs, when some are missing.
BUILD_DIR := build

.PHONY: all deps build run test package clean

all: build

deps:
	@bash scripts/install-deps

build: deps
	cmake -S . -B $(BUILD_DIR)
	cmake --build $(BUILD_DIR) --parallel

run: build
	$(BUILD_DIR)/matbench

# The tests also start a Slurm cluster on this machine, from packages installed when possible.
test: build
	@bash scripts/install-deps --slurm
	ctest --test-dir $(BUILD_DIR) --output-on-failure --no-tests=error

# A Debian package of the benchmark and the speedup tool, in the build folder.
package: build
	cd $(BUILD_DIR) && cpack

clean:
	rm -rf $(BUILD_DIR)
