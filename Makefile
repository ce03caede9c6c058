# Cindel: the two everyday commands.
#   make test   install what is missing, build (Release, into build/) and run the whole test suite
#   make demo   render the built-in scene with the command-line renderer (arrives with `cindel`)

BUILD_DIR ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?=

.PHONY: all deps configure build test demo warnings clean format

all: build

deps:
	./scripts/install-deps

configure: deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=Release -DCINDEL_WERROR=ON $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS) --timeout 600 || \
	  { echo; echo "== TESTS FAILED (see above) =="; exit 1; }
	@echo; echo "== ALL TESTS PASSED =="

# Warnings as errors across every target, the check CI makes.
warnings: deps
	cmake -S . -B $(BUILD_DIR) -DCINDEL_WERROR=ON $(CMAKE_FLAGS)
	cmake --build $(BUILD_DIR) -j $(JOBS)

demo:
	@echo "make demo arrives with the command-line renderer (tools/cindel)"; exit 1

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD_DIR)
