BUILD ?= build
JOBS ?= $(shell nproc)

.PHONY: all deps configure build test test-sanitize fuzz bench boot-test run screens clean

all: build

deps:
	bash scripts/install-deps

configure: deps
	cmake -S . -B $(BUILD) -G Ninja

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The suite built with AddressSanitizer and UndefinedBehaviorSanitizer, in a
# build directory of its own; tests/lsan.supp names the leaks of system
# libraries that no code of ours can free.
SANITIZE_BUILD ?= build-sanitize
test-sanitize: deps
	cmake -S . -B $(SANITIZE_BUILD) -G Ninja -DSANITIZE=ON
	cmake --build $(SANITIZE_BUILD) -j $(JOBS)
	cd $(SANITIZE_BUILD) && LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp ctest --output-on-failure -j $(JOBS) $(CTEST_ARGS)

# The libFuzzer targets (clang, build-fuzz/), each run for FUZZ_SECONDS.
FUZZ_SECONDS ?= 60
fuzz: deps
	JOBS=$(JOBS) bash scripts/fuzz $(FUZZ_SECONDS)

bench: configure
	cmake --build $(BUILD) --target bench

# Installs started in an emulated AArch64 machine (tests/boot), pinned to
# BOOT_CPUS when that is set (a taskset list): minutes per boot without KVM,
# plus a bootstrap of the AArch64 root under emulation when it is not cached
# yet. Not part of `test`.
BOOT_CPUS ?=
boot-test: configure
	bash scripts/install-boot-deps
	cmake --build $(BUILD) -j $(JOBS) --target boot_tests
	$(if $(BOOT_CPUS),taskset -c $(BOOT_CPUS)) $(BUILD)/src/boot_tests $(BOOT_ARGS)

run: build
	bash scripts/run-wizard $(BUILD)

# Both walks in every language of the catalogue under headless sway (root,
# AT-SPI), each page saved as $(BUILD)/screens/<language>/<page>.png; fails
# where a text runs out of its control or shows untranslated. SCREENS_JOBS
# walks run at once, each with its own compositor.
SCREENS_JOBS ?= 3
screens: build
	cd $(BUILD) && TAVIX_SCREENS_DIR=$(CURDIR)/$(BUILD)/screens ctest -R LanguageWalk --output-on-failure -j $(SCREENS_JOBS)

clean:
	rm -rf $(BUILD) $(SANITIZE_BUILD) build-fuzz
