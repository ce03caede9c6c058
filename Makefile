# Cindel: the two everyday commands.
#   make test   install what is missing, build (Release, into build/) and run the whole test suite
#   make demo   install what is missing, build, and render the built-in scene with `cindel` into
#               out/demo/ (plus out/demo/demo.mp4 when ffmpeg is installed)

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

# The built-in default scene: 960 x 540 at 30 fps, Draft quality, Voxel Size Large, 90 frames.
DEMO_DIR ?= out/demo
demo: build
	$(BUILD_DIR)/cindel render --out $(DEMO_DIR) \
	  $(if $(shell command -v ffmpeg 2>/dev/null),--video $(DEMO_DIR)/demo.mp4)
	@command -v ffmpeg >/dev/null 2>&1 || echo "(no video: install ffmpeg to get $(DEMO_DIR)/demo.mp4 as well)"

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD_DIR)
