#!/usr/bin/python3
"""Reads a message with Python's own e-mail parser and prints what the tests compare, as
JSON: the decoded headers, the text and each attachment's name, type and bytes (hex)."""
import json
import sys
from email import policy
from email.parser import BytesParser

with open(sys.argv[1], "rb") as f:
    raw = f.read()
msg = BytesParser(policy=policy.default).parsebytes(raw)
out = {
    "defects": [str(d) for d in msg.defects],
    "subject": str(msg["subject"]),
    "from": str(msg["from"]),
    "from_name": msg["from"].addresses[0].display_name if msg["from"] else "",
    "from_addr": msg["from"].addresses[0].addr_spec if msg["from"] else "",
    "to": str(msg["to"]),
    "date": str(msg["date"]),
    "message_id": str(msg["message-id"]),
    "mime_version": str(msg["mime-version"]),
    "content_type": msg.get_content_type(),
    "body": "",
    "attachments": [],
}
for part in msg.walk():
    if part.is_multipart():
        continue
    out["defects"] += [str(d) for d in part.defects]
    if part.get_content_disposition() == "attachment":
        out["attachments"].append({"name": part.get_filename(), "type": part.get_content_type(),
                                   "hex": part.get_payload(decode=True).hex()})
    elif part.get_content_type() == "text/plain":
        out["body"] = part.get_content()
print(json.dumps(out))
