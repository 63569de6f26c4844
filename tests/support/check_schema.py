# Validates settings documents against the JSON Schema of the format, with Debian's
# python3-jsonschema: check_schema.py SCHEMA DOCUMENT... prints one line per document that does
# not pass and exits 1 then; exits 77 when the validator is not installed.
import json
import sys

try:
    import jsonschema
except ImportError:
    print("python3-jsonschema is not installed", file=sys.stderr)
    sys.exit(77)

with open(sys.argv[1], encoding="utf-8") as f:
    schema = json.load(f)
validator_class = jsonschema.validators.validator_for(schema)
validator_class.check_schema(schema)
validator = validator_class(schema)
failed = 0
for path in sys.argv[2:]:
    with open(path, encoding="utf-8") as f:
        document = json.load(f)
    for error in validator.iter_errors(document):
        where = "/".join(str(p) for p in error.absolute_path)
        print(f"{path}: {where}: {error.message}")
        failed = 1
sys.exit(failed)
