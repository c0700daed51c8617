#!/usr/bin/python3
"""Validates every line of event files against the events' JSON Schema.

Usage: validate-events.py SCHEMA FILE...
Each line of each FILE must be one JSON object that the schema (draft 7)
accepts. Prints FILE:LINE: why for each line that is not, and exits 1 when
there was any; 0 when every line passed.
"""
import json
import sys

import jsonschema


def main(arguments):
    if len(arguments) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    with open(arguments[0], encoding="utf-8") as schema_file:
        schema = json.load(schema_file)
    validator = jsonschema.Draft7Validator(schema)
    failures = 0
    for path in arguments[1:]:
        with open(path, encoding="utf-8") as events:
            for number, line in enumerate(events, 1):
                try:
                    event = json.loads(line)
                except ValueError as error:
                    print(f"{path}:{number}: not JSON: {error}")
                    failures += 1
                    continue
                for error in validator.iter_errors(event):
                    print(f"{path}:{number}: {error.message}")
                    failures += 1
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
