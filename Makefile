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

# Short libFuzzer runs of the reply decoders and the settings-file reader.
fuzz: deps
	@test -f build/fuzz/build.ninja || cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_CXX_COMPILER=clang++ -DLUMORA_FUZZ=ON -DLUMORA_BENCHMARKS=OFF
	cmake --build build/fuzz --target decode_fuzz defaults_store_fuzz
	mkdir -p build/fuzz/corpus/decode && cp simulator/fixtures/*.json build/fuzz/corpus/decode/
	build/fuzz/fuzz/decode_fuzz -max_total_time=$${FUZZ_SECONDS:-60} -max_len=65536 build/fuzz/corpus/decode
	build/fuzz/fuzz/defaults_store_fuzz -max_total_time=$${FUZZ_SECONDS:-60} -max_len=4096

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
