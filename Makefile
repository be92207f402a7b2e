# Thin wrapper over CMake: `make demo` and `make test` install what is missing, build and run.
BUILD ?= build
JOBS ?= $(shell nproc)
DEMO_OUT ?= demo_output
# A real video (from Debian's opencv-doc): 12 frames, every second one, shrunk to 240x180.
DEMO_VIDEO ?= /usr/share/doc/opencv-doc/examples/data/tree.avi
DEMO_FRAMES ?= 12
DEMO_PREPARE ?= --count $(DEMO_FRAMES) --step 2 --max-side 240
DEMO_ARGS ?= 5 1.5 0.001 4
# The Python package goes into a virtual environment of Debian's Python, which sees the Debian
# packages it needs (NumPy, pytest, Dask).
VENV ?= .venv
# Extra CMake options, e.g. CMAKE_ARGS=-DVORADA_WERROR=ON (as CI builds).
CMAKE_ARGS ?=

.PHONY: all deps configure build demo test python sanitize fuzz-smoke clean

all: build

deps:
	@./scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release $(CMAKE_ARGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

demo: build
	@./$(BUILD)/prepare/vseg-prepare $(DEMO_VIDEO) $(DEMO_OUT) $(DEMO_PREPARE)
	@./$(BUILD)/driver/vseg 0 $$(($(DEMO_FRAMES) - 1)) $(DEMO_ARGS) $(DEMO_OUT) $(DEMO_OUT)/segmentation
	@echo "Frames and flows: $(DEMO_OUT)/frames/, $(DEMO_OUT)/flows/"
	@echo "Segmentations: $(DEMO_OUT)/segmentation/segmentations/<L>/ (L + 1 regions; try 100 and 20)"
	@./$(BUILD)/view/vseg-view $(DEMO_OUT)/segmentation
	@echo "Overview: $(abspath $(DEMO_OUT))/segmentation/overview.png"

test: build python
	@ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)
	@VSEG_BUILD=$(abspath $(BUILD)) $(VENV)/bin/python -m pytest -q python/tests

# Builds the extension with CMake (through setup.py) and installs the package into $(VENV).
python: deps
	@test -x $(VENV)/bin/python || /usr/bin/python3 -m venv --system-site-packages $(VENV)
	@JOBS=$(JOBS) $(VENV)/bin/python -m pip install --quiet --no-build-isolation --no-index .

# The suites that read external data or manage memory by hand, under address and
# undefined-behaviour sanitizers and the standard library's assertions (the image container
# suites are left out for build time).
SANITIZE_SUITES ?= test_common test_signals test_tree test_io test_math test_descriptors \
                   test_distance test_tracking test_driver test_cut test_view

sanitize: deps
	@cmake -S . -B $(BUILD)-sanitize -DCMAKE_BUILD_TYPE=Debug -DVORADA_SANITIZE=ON \
	    -DVORADA_BUILD_BENCH=OFF $(CMAKE_ARGS) >/dev/null
	@cmake --build $(BUILD)-sanitize -j $(JOBS) --target $(SANITIZE_SUITES)
	@ctest --test-dir $(BUILD)-sanitize --output-on-failure -j $(JOBS) -E _NOT_BUILT

# The libFuzzer targets built with clang and run for 30 s each on their seed corpora.
fuzz-smoke:
	@JOBS=$(JOBS) FUZZ_BUILD=$(BUILD)-fuzz ./scripts/fuzz-smoke.sh

clean:
	rm -rf $(BUILD) $(BUILD)-sanitize $(BUILD)-fuzz build-python $(VENV)
