# Convenience targets; each is one of the project's scripts.
.PHONY: demo test bench
demo:
	bash scripts/demo.sh
test:
	bash scripts/test.sh
bench:
	bash bench/run.sh
