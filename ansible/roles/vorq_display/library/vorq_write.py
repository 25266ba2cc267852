#!/usr/bin/python
# Copyright: VORQ developers
# MIT licence (see the LICENSE file of VORQ)
"""Stores a command set and scroll data in a pole display's EEPROM, through vorq-write."""

import json

from ansible.module_utils.basic import AnsibleModule

DOCUMENTATION = r"""
module: vorq_write
short_description: Store a command set and scroll data in a pole display's EEPROM
description:
  - Runs C(vorq-write --json) on the till. Unless I(force) is set, the frame is written only
    when the write record does not show it on that device at that speed already, so that an
    EEPROM is not rewritten needlessly.
  - In check mode nothing is opened; the result says whether a frame would be written.
  - In diff mode the recorded configuration is shown against the wanted one.
options:
  port:
    description: COM1 to COM5, as the till's settings map them.
    type: str
    default: COM1
  speed:
    description: The line speed in bits per second, 9600 or 19200.
    type: int
    default: 9600
  code:
    description: The command set, 0 to 6.
    type: int
    required: true
  text:
    description: The scroll data.
    type: str
    default: ""
  force:
    description: Write even when the record says that the display holds the frame.
    type: bool
    default: false
  test_pattern:
    description:
      - After a write that changed the display, also send the command set's test pattern
        (C(vorq-write --test-pattern)), which clears the display and shows C(TEST <code> <NAME>)
        and C(0123456789ABCDEFGHIJ). It is not recorded, as the EEPROM is unchanged.
      - Most displays take a new command set only after a power cycle; send the pattern again
        after one to see that the set took effect.
    type: bool
    default: false
  state_file:
    description: The write record's file; empty uses vorq-write's own.
    type: str
    default: ""
  executable:
    description: The vorq-write program.
    type: str
    default: vorq-write
"""

EXAMPLES = r"""
- name: Store the AEDEX command set and a greeting in the display on COM1
  vorq_write:
    port: COM1
    code: 1
    text: WELCOME

- name: Write again at 19200 bps even when the record shows the frame there
  vorq_write:
    port: COM2
    speed: 19200
    code: 4
    text: "  OPEN 7-22  "
    force: true

- name: Store the EPSON command set and show its test pattern when it was written
  vorq_write:
    port: COM1
    code: 4
    test_pattern: true
"""

RETURN = r"""
msg:
  description: The line that vorq-write printed.
  type: str
  returned: always
  sample: Wrote 17 bytes to /dev/ttyS0 (COM1) at 9600,n,8,1.
vorq:
  description: The report of vorq-write (changed, status, message, port, device, speed, code,
    text, frame, previous).
  type: dict
  returned: always
  sample:
    changed: true
    status: 0
    port: COM1
    device: /dev/ttyS0
    speed: 9600
    code: "1"
    text: WELCOME
    frame: 1B 6B 71 35 31 37 32 40 31 57 45 4C 43 4F 4D 45 FF
    previous: null
test_pattern:
  description: The report of C(vorq-write --test-pattern), when the pattern was sent.
  type: dict
  returned: when test_pattern is true and the write changed the display
  sample:
    changed: true
    status: 0
    message: Sent the test pattern of command set 4 ESC_Command for EPSON (52 bytes) to
      /dev/ttyS0 (COM1) at 9600,n,8,1.
"""


def configuration(port, speed, code, text):
    """The configuration of one display as diff mode shows it."""
    return f"port: {port}\nspeed: {speed}\ncode: {code}\ntext: {json.dumps(text)}\n"


def main():
    module = AnsibleModule(
        argument_spec={
            "port": {"type": "str", "default": "COM1"},
            "speed": {"type": "int", "default": 9600},
            "code": {"type": "int", "required": True},
            "text": {"type": "str", "default": ""},
            "force": {"type": "bool", "default": False},
            "state_file": {"type": "str", "default": ""},
            "test_pattern": {"type": "bool", "default": False},
            "executable": {"type": "str", "default": "vorq-write"},
        },
        supports_check_mode=True,
    )
    p = module.params
    command = [
        module.get_bin_path(p["executable"], required=True),
        "--json",
        "--port=" + p["port"],
        "--speed=" + str(p["speed"]),
        "--code=" + str(p["code"]),
        "--text=" + p["text"],
    ]
    if not p["force"]:
        command.append("--if-changed")
    if p["state_file"]:
        command.append("--state=" + p["state_file"])
    if module.check_mode:
        command.append("--dry-run")
    status, out, err = module.run_command(command)
    try:
        report = json.loads(out)
    except ValueError:
        module.fail_json(msg=err.strip() or "vorq-write gave no report", rc=status)
    previous = report.get("previous")
    diff = {
        "before_header": "recorded",
        "after_header": "wanted",
        "before": configuration(p["port"], previous["speed"], previous["code"], previous["text"])
        if previous
        else "",
        "after": configuration(p["port"], p["speed"], p["code"], p["text"]),
    }
    if status != 0:
        module.fail_json(msg=report["message"], rc=status, vorq=report)
    result = {"changed": report["changed"], "msg": report["message"], "vorq": report, "diff": diff}
    if p["test_pattern"] and report["changed"] and not module.check_mode:
        status, out, err = module.run_command(command[:3] + [
            "--speed=" + str(p["speed"]),
            "--code=" + str(p["code"]),
            "--test-pattern",
        ])
        try:
            result["test_pattern"] = json.loads(out)
        except ValueError:
            module.fail_json(msg=err.strip() or "vorq-write gave no report", rc=status, **result)
        if status != 0:
            module.fail_json(
                msg="the frame was written, but the test pattern was not: "
                + result["test_pattern"]["message"],
                rc=status,
                **result,
            )
    module.exit_json(**result)


if __name__ == "__main__":
    main()
