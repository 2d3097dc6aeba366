# Thin wrapper over the project's scripts and CMake. Both targets set up a fresh Debian machine
# (as root) first.
.PHONY: setup build test demo dist reliability server-bench stall-bench format clean

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

# Not part of make test: up to 20 minutes of faults, unloads and storms (docs/reliability.md).
reliability: setup
	./scripts/reliability.sh

# Not part of make test: sonavire-server beside nginx under wrk, 16 and 128 connections (docs/server.md).
server-bench: setup
	./scripts/server-bench.sh

# Not part of make test: the player thread's longest waits, five runs per width, as the machine
# schedules them and with the player and the service on CPUs of their own (docs/development.md).
stall-bench: build
	./scripts/stall-runs.sh
	./scripts/stall-runs.sh --split

# Lays out the C++ files as .clang-format says (make test checks it: native.format).
format:
	./scripts/format.sh

clean:
	rm -rf build
