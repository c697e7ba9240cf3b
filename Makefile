# ZaDeroza: the commands a developer and CI run. Everything the project needs is installed by
# `make deps` from Debian's packages.
BUILD ?= build
ASAN_BUILD ?= build-asan
JOBS ?= 2
CMAKE_FLAGS ?=

DEB_PACKAGES := build-essential cmake pkg-config \
	libavcodec-dev libavformat-dev libavutil-dev libswscale-dev libswresample-dev \
	libdvdread-dev qt6-base-dev libgtest-dev iso-codes \
	ffmpeg dvdauthor genisoimage lsdvd

# Only `make fuzz` needs these.
FUZZ_PACKAGES := clang libclang-rt-14-dev

SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

.PHONY: all deps install-packages build test test-asan demo bench fuzz clean

all: build

# Installs every missing Debian package; does nothing when all are present.
deps:
	@$(MAKE) --no-print-directory install-packages PACKAGES="$(DEB_PACKAGES)"

install-packages:
	@missing=""; for p in $(PACKAGES); do \
		dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q 'install ok installed' || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
		echo "Installing:$$missing"; \
		$(SUDO) apt-get update -qq && \
		DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq --no-install-recommends $$missing; \
	else echo "All packages present."; fi

$(BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j$(JOBS)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j$(JOBS)

test-asan: deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DZDR_SANITIZE=ON -DZDR_BUILD_UI=OFF $(CMAKE_FLAGS)
	cmake --build $(ASAN_BUILD) -j$(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		ctest --test-dir $(ASAN_BUILD) --output-on-failure -j$(JOBS) -LE no-asan

demo: build
	@bash tools/demo $(BUILD)

bench: build
	@set -e; for b in bench/*; do \
		[ -x "$$b" ] && [ -f "$$b" ] || continue; \
		echo "== $$b"; ZDR_BUILD=$(BUILD) "$$b"; \
	done

fuzz: deps
	@$(MAKE) --no-print-directory install-packages PACKAGES="$(FUZZ_PACKAGES)"
	CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZDR_FUZZ=ON -DZDR_BUILD_UI=OFF \
		-DZDR_ONLY="xml;graph;dvd;demux"
	cmake --build build-fuzz -j$(JOBS)
	bash tools/run-fuzzers build-fuzz

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) build-fuzz
