# The two everyday commands: `make demo` and `make test`. Both do the whole set-up first.
PYTHON ?= python3
APT_PACKAGES := libasio-dev libgtest-dev cmake ninja-build g++
NINJA_JOBS ?= 2

.PHONY: setup system-deps install demo test test-python test-cpp test-asan build-dev fuzz-build clean

system-deps:
	@dpkg -s $(APT_PACKAGES) >/dev/null 2>&1 || { \
	  echo "installing system packages: $(APT_PACKAGES)"; \
	  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $(APT_PACKAGES); }

install: system-deps
	$(PYTHON) -m pip install -q "scikit-build-core>=0.9" "cmake>=3.25" ninja pytest hypothesis
	$(PYTHON) -m pip install -q --no-build-isolation .

setup: install

demo: setup
	$(PYTHON) examples/demo.py

test: setup test-cpp test-python

test-python:
	cd tests && $(PYTHON) -m pytest -q -p no:cacheprovider .

test-cpp: system-deps
	cmake -S . -B build/cpp -G Ninja -DVELMORA_MODULE=OFF -DVELMORA_CPP_TESTS=ON -DCMAKE_BUILD_TYPE=Release >/dev/null
	ninja -C build/cpp -j $(NINJA_JOBS)
	ctest --test-dir build/cpp --output-on-failure -j 2

# Development build of the module in build/dev (import it with PYTHONPATH=build/dev).
build-dev: system-deps
	cmake -S . -B build/dev -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
	ninja -C build/dev -j $(NINJA_JOBS)

# The module and the C++ tests built with AddressSanitizer + UndefinedBehaviorSanitizer,
# and the Python suite run against that module.
test-asan: system-deps
	cmake -S . -B build/asan -G Ninja -DVELMORA_SANITIZE=ON -DVELMORA_CPP_TESTS=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	ninja -C build/asan -j $(NINJA_JOBS)
	ctest --test-dir build/asan --output-on-failure
	cd tests && PYTHONPATH=$(CURDIR)/build/asan LD_PRELOAD="$$(g++ -print-file-name=libasan.so) $$(g++ -print-file-name=libubsan.so)" \
	  ASAN_OPTIONS=detect_leaks=0 $(PYTHON) -m pytest -q -p no:cacheprovider .

# libFuzzer harnesses (clang); see fuzz/README.md for running them.
fuzz-build:
	@dpkg -s clang libclang-rt-14-dev >/dev/null 2>&1 || { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq clang libclang-rt-14-dev; }
	CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DVELMORA_MODULE=OFF -DVELMORA_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	ninja -C build/fuzz -j $(NINJA_JOBS)

clean:
	rm -rf build
