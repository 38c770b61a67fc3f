# Convenience targets; each is one of the project's scripts.
.PHONY: demo test test-extended bench wheels
demo:
	bash scripts/demo.sh
test:
	bash scripts/test.sh
test-extended:
	bash scripts/test-extended.sh
bench:
	bash bench/run.sh
wheels:
	bash scripts/build-wheels.sh
