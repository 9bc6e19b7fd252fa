BUILD ?= build
JOBS ?= $(shell nproc)

.PHONY: all deps configure build test bench run clean

all: build

deps:
	bash scripts/install-deps

configure: deps
	cmake -S . -B $(BUILD) -G Ninja

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

bench: configure
	cmake --build $(BUILD) --target bench

run: build
	bash scripts/run-wizard $(BUILD)

clean:
	rm -rf $(BUILD)
