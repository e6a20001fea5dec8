# The two everyday commands: `make run` and `make test`. Both install what is missing first.
BUILD_DIR ?= build
SANITIZE_DIR ?= build-sanitize
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo
LAUNCHER := $(if $(shell command -v ccache 2>/dev/null),-DCMAKE_CXX_COMPILER_LAUNCHER=ccache,)
# CI (CI=true) fails on any compiler warning.
WERROR := -DKEL_WERROR=$(if $(filter-out 0 false,$(CI)),ON,OFF)

.PHONY: deps configure build run test test-fast test-sanitize install package bench fuzz format \
        format-check clean

deps:
	@bash scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD_DIR) $(CMAKE_FLAGS) $(LAUNCHER) $(WERROR) >/dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	cd $(BUILD_DIR) && ./kel $(ARGS)

test: build
	cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j 2

# The tests that take seconds: for a quick check while working.
test-fast: build
	cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j 2 -L fast

# The tests built with AddressSanitizer and UndefinedBehaviorSanitizer, in their own folder.
test-sanitize: deps
	@cmake -S . -B $(SANITIZE_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKEL_SANITIZE=ON \
	       $(LAUNCHER) $(WERROR) >/dev/null
	@cmake --build $(SANITIZE_DIR) -j $(JOBS)
	cd $(SANITIZE_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j 2

# `make install DESTDIR=/tmp/stage CMAKE_INSTALL_PREFIX=/opt/kel`; the prefix is /usr/local unless
# the build was configured with another one.
install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD_DIR) \
	    $(if $(CMAKE_INSTALL_PREFIX),--prefix "$(CMAKE_INSTALL_PREFIX)",)

# build/kel_<version>_<arch>.deb, installed with `apt-get install ./build/kel_*.deb`.
package: build
	cd $(BUILD_DIR) && cpack

bench: build
	@for b in $(BUILD_DIR)/bench/bench_*; do echo "== $$b"; $$b; done

fuzz: deps
	@bash scripts/fuzz.sh

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

format-check: deps
	@git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

clean:
	rm -rf $(BUILD_DIR) $(SANITIZE_DIR)
