#!/usr/bin/python3
"""Reads a metrics page on standard input with Prometheus' own parser and prints its
families as JSON: {name: {"type": ..., "samples": [[sample, {labels}, value], ...]}}.
Exits non-zero when the page is not valid text format."""
import json
import sys

from prometheus_client.parser import text_string_to_metric_families

families = {}
try:
    for family in text_string_to_metric_families(sys.stdin.read()):
        families[family.name] = {
            "type": family.type,
            "samples": [[s.name, s.labels, s.value] for s in family.samples],
        }
except Exception as error:  # the parser raises plain ValueErrors and others
    print(f"not Prometheus text format: {error}", file=sys.stderr)
    sys.exit(1)
json.dump(families, sys.stdout)
