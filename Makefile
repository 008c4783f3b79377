# The targets a newcomer types.  `make demo` and `make test` install what is
# missing first, so both work on a fresh Debian 12 machine as root.

PACKAGES := g++ cmake ninja-build make pkg-config libgtest-dev libgmock-dev libbenchmark-dev \
            qt6-base-dev libgl-dev fonts-dejavu-core tinyproxy squid curl clang libclang-rt-14-dev locales \
            libcurl4-openssl-dev libssl-dev libexpat1-dev libpsl-dev openssl zlib1g-dev \
            apache2-utils dpkg-dev \
            xvfb openbox xdotool imagemagick x11-utils qt6-translations-l10n libqt6svg6 \
            at-spi2-core python3-pyatspi dbus nginx-light \
            clang-format python3 git \
            librsvg2-bin build-essential debhelper lintian devscripts appstream desktop-file-utils man-db
JOBS     ?= $(shell nproc)

.PHONY: all deps build test test-asan check demo bench fuzz package clean

all: build

deps:
	@missing=$$(for p in $(PACKAGES); do \
	    dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q 'install ok installed' || echo $$p; done); \
	if [ -z "$$missing" ]; then exit 0; fi; \
	if [ "$$(id -u)" != 0 ]; then \
	    echo "make deps: these Debian packages are missing: $$missing"; \
	    echo "make deps: run 'make deps' as root (or install them with apt-get) and try again."; \
	    exit 1; fi; \
	echo "make deps: installing $$missing"; \
	export DEBIAN_FRONTEND=noninteractive; \
	apt-get update -qq && apt-get install -y -qq --no-install-recommends $$missing >/dev/null

build: deps
	cmake --preset default >/dev/null
	cmake --build --preset default -j $(JOBS)

test: build
	ctest --preset default -j $(JOBS)

test-asan: deps
	cmake --preset asan >/dev/null
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan -j $(JOBS)

# The sources are formatted with the root .clang-format, and every include
# follows the layer arrows of ARCHITECTURE.md.
check: deps
	git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run -Werror
	python3 tools/check-layers.py

# Only the three programs, their data and icons: a first run does not wait
# for the tests and benchmarks (`make test` builds those in the same tree).
demo: deps
	cmake --preset default >/dev/null
	cmake --build --preset default --target kurs_programs -j $(JOBS)
	@tools/demo.sh build/default

FUZZ_SECONDS ?= 120
FUZZ_FOLDERS := platform;platform/messages;platform/locale;platform/sockets;platform/registry;platform/profile;runtime;net/socket;net/http;tools/rates-server;tools/rates-server/upstream
FUZZ_FLAGS    = -max_total_time=$(FUZZ_SECONDS) -timeout=10 -rss_limit_mb=4096 -print_final_stats=1
# Every target is built with AddressSanitizer (build/fuzz); the response
# reader also without it (build/fuzz-fast), several times faster, and runs
# there on every core (each job's log is printed when it ends); its corpus is
# then replayed under AddressSanitizer.
fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	    -DKURS_FUZZ=ON -DKURS_BENCHMARKS=OFF "-DKURS_ONLY=$(FUZZ_FOLDERS)" >/dev/null
	cmake --build build/fuzz --target kurs_http_fuzz kurs_bank_xml_fuzz kurs_registry_fuzz \
	    kurs_profile_fuzz kurs_rates_http_fuzz -j $(JOBS)
	CC=clang CXX=clang++ cmake -S . -B build/fuzz-fast -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	    -DKURS_FUZZ=ON -DKURS_FUZZ_ASAN=OFF -DKURS_BENCHMARKS=OFF "-DKURS_ONLY=$(FUZZ_FOLDERS)" >/dev/null
	cmake --build build/fuzz-fast --target kurs_http_fuzz -j $(JOBS)
	mkdir -p build/fuzz/corpus build/fuzz/xml-corpus build/fuzz/registry-corpus \
	    build/fuzz/profile-corpus build/fuzz/rates-http-corpus
	cd build/fuzz-fast/net/http && ./kurs_http_fuzz -jobs=$(JOBS) -workers=$(JOBS) $(FUZZ_FLAGS) \
	    -max_len=100000 $(CURDIR)/build/fuzz/corpus $(CURDIR)/net/http/fuzz-corpus
	build/fuzz/net/http/kurs_http_fuzz -runs=0 -max_len=100000 -timeout=10 -rss_limit_mb=4096 \
	    build/fuzz/corpus net/http/fuzz-corpus
	build/fuzz/tools/rates-server/upstream/kurs_bank_xml_fuzz $(FUZZ_FLAGS) -max_len=65536 \
	    build/fuzz/xml-corpus tools/rates-server/upstream/testdata
	build/fuzz/platform/registry/kurs_registry_fuzz $(FUZZ_FLAGS) -max_len=65536 \
	    build/fuzz/registry-corpus platform/registry/fuzz-corpus
	build/fuzz/platform/profile/kurs_profile_fuzz $(FUZZ_FLAGS) -max_len=65536 \
	    build/fuzz/profile-corpus platform/profile/fuzz-corpus
	build/fuzz/tools/rates-server/kurs_rates_http_fuzz $(FUZZ_FLAGS) -max_len=65536 \
	    build/fuzz/rates-http-corpus tools/rates-server/fuzz-corpus

# build/package/kurs_<version>_<arch>.deb, built from debian/ by
# dpkg-buildpackage, which writes beside the source folder: so it builds a
# copy of the tree in build/package/kurs.  DEB_BUILD_OPTIONS=nocheck skips
# the tests (and builds only the programs).
package: deps
	rm -rf build/package
	mkdir -p build/package/kurs
	tar -c --exclude=./build --exclude='./build-*' --exclude=./.git --exclude=./.cache \
	    --exclude=./compile_commands.json . | tar -x -C build/package/kurs
	cd build/package/kurs && dpkg-buildpackage -b -us -uc -J$(JOBS)
	@ls build/package/*.deb

bench: build
	@tools/bench.sh build/default

clean:
	rm -rf build
