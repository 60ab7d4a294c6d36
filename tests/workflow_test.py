#!/usr/bin/env python3
"""Checks that GitHub workflow files parse and have the shape GitHub runs:
a trigger, and jobs whose steps each use an action or run a command.
Usage: workflow_test.py FILE..."""
import sys

import yaml

failed = 0
passed = 0
for path in sys.argv[1:]:
    with open(path) as file:
        workflow = yaml.safe_load(file)
    # YAML 1.1 reads the key "on" as true.
    problems = [] if "on" in workflow or True in workflow else ["no trigger"]
    for name, job in workflow.get("jobs", {}).items():
        if "runs-on" not in job:
            problems.append(f"job {name} has no runs-on")
        for number, step in enumerate(job.get("steps") or [None]):
            if not isinstance(step, dict) or ("uses" in step) == ("run" in step):
                problems.append(f"job {name}, step {number}: neither uses nor run, or both")
    if not workflow.get("jobs"):
        problems.append("no jobs")
    for problem in problems:
        print(f"FAIL: {path}: {problem}")
    failed += len(problems)
    passed += not problems
print(f"workflows: {passed} passed, {failed} failed")
sys.exit(1 if failed else 0)
