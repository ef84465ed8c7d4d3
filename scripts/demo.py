"""A first look at quillane: the starter rules for a small team."""
import json

import quillane

print(f"quillane {quillane.__version__}")
rules = quillane.default_rules(
    {"alice": "user", "builder": "provider", "ci": "executor"},
    admins=["alice"],
    signed=False,
)
parsed = json.loads(rules)
print(f"starter rules: {len(rules)} bytes, {len(parsed['kind_schema_map'])} schemas")
print("author roles:", parsed["author_roles"])
print("evidence thresholds:", parsed["evidence_thresholds"])
print(rules)
