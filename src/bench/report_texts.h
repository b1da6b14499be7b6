#pragma once

#include "bench/cp1251.h"

// Every text the benchmark writes, as printf formats in Windows-1251. The companion tool parses
// reports with these same constants, so a change here changes both sides.

// Matrices and their headings are written only for sizes below this.
inline constexpr int PRINT_LIMIT = 8;

// Before the factor dumps, only for sizes below PRINT_LIMIT.
inline constexpr auto FACTORS_HEADING = ToCp1251(u8" Матрицы A и B: \n \n");

// Before the serial product dump, only for sizes below PRINT_LIMIT.
inline constexpr auto SERIAL_PRODUCT_HEADING =
    ToCp1251(u8"Матрица произведения, последовательный вариант: \n");

// %f: serial seconds.
inline constexpr auto SERIAL_LINE = ToCp1251(u8"SerialMulti =  %f \n \n");

// Before each parallel product dump, only for sizes below PRINT_LIMIT.
inline constexpr auto PARALLEL_PRODUCT_HEADING =
    ToCp1251(u8"Матрица произведения, OpenMP вариант: \n");

// %d: team size; %f: parallel seconds; %d: 1 when the product matches the serial one, else 0.
inline constexpr auto PARALLEL_LINE = ToCp1251(u8"ParallelMulti ( %d потоков ) = %f  Тест %d \n");

// The last text; no line feed follows it.
inline constexpr auto CLOSING_TEXT = ToCp1251(u8"\n Завершено");

// Never written: the program carries its clock's tick in its file as these words and the tick in
// seconds, "0.001" (or "0.000001" in the fine build), so the companion knows the clock before the
// first run.
inline constexpr char CLOCK_TICK_MARK_PREFIX[] = "MATBENCH_CLOCK_TICK_SECONDS=";
