# Thin wrapper over the project's scripts and CMake. Both targets set up a fresh Debian machine
# (as root) first.
.PHONY: setup build test demo dist clean

setup:
	./scripts/setup.sh

build: setup
	./scripts/build.sh

test: setup
	./scripts/run-tests.sh

demo: setup
	./scripts/demo.sh

dist: setup
	./scripts/dist.sh

clean:
	rm -rf build
