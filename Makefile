# Thin wrapper over CMake: `make demo` and `make test` install what is missing, build and run.
BUILD ?= build
JOBS ?= $(shell nproc)
SAMPLE ?= sample
DEMO_OUT ?= demo_output
DEMO_ARGS ?= 0 7 20 2 0.001 4

.PHONY: all deps configure build demo test sanitize clean

all: build

deps:
	@./scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

demo: build
	@./$(BUILD)/tools/make_sample $(SAMPLE)
	@./$(BUILD)/driver/vseg $(DEMO_ARGS) $(SAMPLE) $(DEMO_OUT)
	@echo "Segmentations written under $(DEMO_OUT)/segmentations/ (one directory per level)"

test: build
	@ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

sanitize: deps
	@cmake -S . -B $(BUILD)-sanitize -DCMAKE_BUILD_TYPE=Debug -DVORADA_SANITIZE=ON \
	    -DVORADA_BUILD_BENCH=OFF >/dev/null
	@cmake --build $(BUILD)-sanitize -j $(JOBS)
	@ctest --test-dir $(BUILD)-sanitize --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD) $(BUILD)-sanitize
