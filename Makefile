# The two commands a newcomer needs: `make demo` and `make test`.
PRESET ?= default
BUILD_DIR = build/$(PRESET)

.PHONY: all deps configure build test test-asan demo bench fuzz install package clean

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

# libFuzzer on every target in fuzz/, FUZZ_SECONDS each (default 60), starting
# from its seeds in fuzz/corpus/<name>. What it finds goes to build/fuzz/corpus
# and build/fuzz/findings; the seeds in the repository are left as they are.
fuzz: deps
	@test -f build/fuzz/build.ninja || cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_CXX_COMPILER=clang++ -DLUMORA_FUZZ=ON -DLUMORA_BENCHMARKS=OFF
	cmake --build build/fuzz --target fuzz_targets
	@set -e; mkdir -p build/fuzz/findings; for src in fuzz/*_fuzz.cpp; do \
	  name=$$(basename $$src _fuzz.cpp); echo "== $$name"; mkdir -p build/fuzz/corpus/$$name; \
	  build/fuzz/fuzz/$${name}_fuzz -max_total_time=$${FUZZ_SECONDS:-60} -print_final_stats=1 \
	    -artifact_prefix=build/fuzz/findings/$$name- build/fuzz/corpus/$$name fuzz/corpus/$$name; \
	done

# `make install PREFIX=~/.local`, or DESTDIR=/tmp/root for a staged tree.
PREFIX ?= /usr/local
install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD_DIR) --prefix "$(PREFIX)"

# The .deb lands in $(BUILD_DIR): lumora_<version>_<arch>.deb.
package: build
	cd $(BUILD_DIR) && cpack -G DEB

demo: build
	@bash scripts/demo.sh $(BUILD_DIR)

clean:
	rm -rf build
