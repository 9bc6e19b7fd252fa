BUILD ?= build
JOBS ?= $(shell nproc)

.PHONY: all deps configure build test run bench clean

all: build

deps:
	bash scripts/install-deps

configure: deps
	cmake -S . -B $(BUILD) -G Ninja

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

bench: build
	@for b in $(BUILD)/*_bench; do [ -x "$$b" ] && "$$b" || exit 1; done

run: build
	$(BUILD)/tavix-installer --help

clean:
	rm -rf $(BUILD)
