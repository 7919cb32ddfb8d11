# The two commands a newcomer needs: `make demo` and `make test`.
PRESET ?= default
BUILD_DIR = build/$(PRESET)

.PHONY: all deps configure build test test-asan demo bench clean

all: build

deps:
	@bash scripts/install-deps.sh

configure: deps
	@test -f $(BUILD_DIR)/build.ninja || cmake --preset $(PRESET)

build: configure
	cmake --build --preset $(PRESET)

test: build
	ctest --preset $(PRESET) -j2

test-asan:
	$(MAKE) test PRESET=asan

bench: build
	$(BUILD_DIR)/bench/lumora-bench

demo: build
	@bash scripts/demo.sh $(BUILD_DIR)

clean:
	rm -rf build
