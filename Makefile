# The README's commands. Each installs what it needs (scripts/deps.sh) before it builds.
BUILD   := build
PREFIX  := $(CURDIR)/$(BUILD)/wineprefix
# The tests' 64-bit prefix: 64-bit browsers beside 32-bit ones (with-display.sh finds it).
PREFIX64 := $(PREFIX)64
NATIVE  := $(BUILD)/native
# Some machines' kernels run no 32-bit code (Wine's 32-bit loader fails with "Exec format
# error"), and so no QUELLOR.EXE under Wine. There run and test use the whole program built
# for 64-bit Windows, in the 64-bit prefix; the product and make dist stay 32-bit.
RUNS32  := /lib/ld-linux.so.2 --version >/dev/null 2>&1
WHOLE64 := $(BUILD)/whole64
JOBS    ?= 2
ARGS    ?=
DISPLAYED := scripts/with-display.sh $(PREFIX)
NO32 := This machine runs no 32-bit code: running the program built for 64-bit Windows instead.

.PHONY: all deps build build-whole64 native fuzz-long prefix run run-kazaa demo test bench bench-kazaa bench-helper dist screenshots clean

all: build

deps:
	@scripts/deps.sh

# Cross build of the program, its tools and its tests; stages build/Quellor/.
build: deps
	@cmake -S . -B $(BUILD)/win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-mingw.cmake \
	  -DCMAKE_BUILD_TYPE=Release -DQUELLOR_STAGE_DIR=$(CURDIR)/$(BUILD)/Quellor >/dev/null
	@cmake --build $(BUILD)/win -j $(JOBS)

build-whole64: deps
	@cmake -S . -B $(WHOLE64) -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-x86_64-mingw.cmake \
	  -DCMAKE_BUILD_TYPE=Release -DQUELLOR_WHOLE_64=ON -DQUELLOR_STAGE_DIR=$(CURDIR)/$(WHOLE64)/Quellor >/dev/null
	@cmake --build $(WHOLE64) -j $(JOBS)

# Native build of the platform-free code with sanitizers, for unit and fuzz tests.
native: deps
	@CC=clang CXX=clang++ cmake -S tests/native -B $(NATIVE) -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
	@cmake --build $(NATIVE) -j $(JOBS)

# Before a change lands: each fuzz target for 1,000,000 inputs with a seed of its own (the
# tests run 50,000 with a fixed one), from the same corpus. A fault leaves its input in
# build/native as crash-*: keep it in tests/fuzz/corpus/<target>/ with the mend.
fuzz-long: native
	@cd $(NATIVE) && for target in fuzz_*; do \
	  [ -f $$target ] && [ -x $$target ] || continue; \
	  kept=$(CURDIR)/tests/fuzz/corpus/$$target; [ -d $$kept ] || kept=; \
	  echo "$$target: 1000000 inputs"; \
	  ./$$target -runs=1000000 -max_len=4096 corpus/$$target $$kept 2>$$target.log || \
	    { tail -n 30 $$target.log; exit 1; }; \
	done

prefix: deps
	@if $(RUNS32); then scripts/wine-prefix.sh $(PREFIX); fi
	@scripts/wine-prefix.sh $(PREFIX64) win64

# From its own folder, as its shortcuts start it, so help finds quellor.chm beside it.
run: build prefix
	@if $(RUNS32); then cd $(BUILD)/Quellor && $(CURDIR)/$(DISPLAYED) wine QUELLOR.EXE $(ARGS); \
	else $(MAKE) --no-print-directory build-whole64 && echo "$(NO32)" && cd $(WHOLE64)/Quellor && \
	  $(CURDIR)/scripts/with-display.sh $(PREFIX64) wine QUELLOR.EXE $(ARGS); fi

# Starts Quellor and plays a short browsing session through the stand-in browser
# (tools/iehost) and the real browser helper: the tray icon flashes for each pop-up closed.
demo: build prefix
	@$(DISPLAYED) scripts/demo.sh $(CURDIR)/$(BUILD)

# A Wine test that fails is run once more (its output shows both runs): the desktop, the
# wineserver and the tray are shared by every process, and a busy machine sometimes starts a
# process too late for a wait. A steady fault fails both runs.
test: native build prefix
	@cd $(NATIVE) && ctest --output-on-failure
	@if $(RUNS32); then $(DISPLAYED) ctest --test-dir $(BUILD)/win --output-on-failure --timeout 120 --repeat until-pass:2; \
	else $(MAKE) --no-print-directory build-whole64 && echo "$(NO32)" && \
	  scripts/with-display.sh $(PREFIX64) ctest --test-dir $(WHOLE64) --output-on-failure --timeout 120 --repeat until-pass:2; fi

# $(call benchmark,PROGRAM): PROGRAM of the build under Wine (of the 64-bit build where no
# 32-bit code runs).
define benchmark
	@if $(RUNS32); then $(DISPLAYED) wine $(BUILD)/win/$(1); \
	else $(MAKE) --no-print-directory build-whole64 && echo "$(NO32)" && \
	  scripts/with-display.sh $(PREFIX64) wine $(WHOLE64)/$(1); fi
endef

# The History Log page's fill time against the bare cost of reading the same log.
bench: build prefix
	$(call benchmark,tests/bench/history_bench.exe)

# The ad blocker's pass against the bare cost of reading every window title.
bench-kazaa: build prefix
	$(call benchmark,tests/bench/kazaa_bench.exe)

# The browser helper judging a new window with 10,000 rules, against a bare scan of them.
bench-helper: build prefix
	$(call benchmark,tests/bench/helper_bench.exe)

# The program folder as build/dist/Quellor-<version>.zip and ...-setup.exe (makensis).
dist: build
	@cmake --build $(BUILD)/win --target dist

# The pictures in docs/, taken from the real program in a fresh prefix of their own.
screenshots: build
	@rm -f $(BUILD)/shots-prefix/.quellor-ready*
	@scripts/wine-prefix.sh $(CURDIR)/$(BUILD)/shots-prefix
	@scripts/with-display.sh $(CURDIR)/$(BUILD)/shots-prefix \
	  scripts/screenshots.sh $(CURDIR)/$(BUILD) $(CURDIR)/docs

clean:
	rm -rf $(BUILD)

# Quellor, from its own folder, beside the stand-in file-sharing client, which prints
# what is done to it.
run-kazaa: build prefix
	@cd $(BUILD)/Quellor && $(CURDIR)/$(DISPLAYED) sh -c \
	  'wine $(CURDIR)/$(BUILD)/win/tools/kazaa_client/KAZAACLIENT.EXE & wine QUELLOR.EXE $(ARGS)'

