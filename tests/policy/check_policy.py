#!/usr/bin/env python3
"""Fails unless the Group Policy templates in policy/ fit the settings store.

The templates must parse as XML; every $(string.X) and $(presentation.X) of
the ADMX must be in the en-US and ja-JP ADML files, and every presentation's
refId an element of its policy. Every value a policy sets must be one the
settings store reads from the policy key (the same subkey), and a decimal
element's range, or an enum's items, must be what the store accepts there:
a template that offers more would let an administrator set a value the
programs then ignore."""
import os
import re
import sys
import xml.etree.ElementTree as ET

NS = "{http://schemas.microsoft.com/GroupPolicy/2006/07/PolicyDefinitions}"
POLICY_KEY = "SOFTWARE\\Policies\\ZEL\\VADOvur"
LANGUAGES = ["en-US", "ja-JP"]


def read(root, path):
    with open(os.path.join(root, path), encoding="utf-8") as f:
        return f.read()


def store_reads(root):
    """{(subkey, value name): accepted} of the store's policy reads, where
    accepted is (min, max) or a set of values; subkey "" or "Refresh"."""
    text = re.sub(r"\s+", " ", read(root, "common/settings.cpp"))
    constants = {}
    for name, expr in re.findall(r"constexpr DWORD (k\w+) = ([^;]+);", text):
        constants[name] = eval(re.sub(r"\bk\w+", lambda m: str(constants[m.group(0)]), expr))

    def value(expr):
        expr = expr.strip()
        return constants[expr] if expr in constants else int(expr, 0)

    reads = {}
    for func, name, lo, hi in re.findall(
            r"(ReadRefreshDwordIn|ReadRefreshDwordPolicyIn|ReadUserRefreshDwordIn)"
            r"\(L\"(\w+)\", [^,]+, ([^,]+), ([^,)]+)\)", text):
        reads[("Refresh", name)] = (value(lo), value(hi))
    for key, name, lo, hi in re.findall(
            r"ReadSetting\( ?\{HKEY_\w+, SETTINGS_KEY_(MAIN|REFRESH), L\"(\w+)\", [^,]+, "
            r"([^,]+), ([^,]+),", text):
        reads[("Refresh" if key == "REFRESH" else "", name)] = (value(lo), value(hi))
    limit = re.sub(r"\s+", " ", read(root, "battery/refresh_limit.cpp"))
    for name, lo, hi in re.findall(
            r"GetPolicyDword\(SETTINGS_KEY_POLICY_REFRESH, L\"(\w+)\", (\w+), (\w+),", limit):
        reads[("Refresh", name)] = (int(lo, 0), int(hi, 0))
    # The trace switch: any number, 0 off and the rest on.
    if "SETTINGS_KEY_POLICY_REFRESH, kLogSwitchValue" in read(root, "common/log.cpp"):
        reads[("Refresh", "Log")] = (0, 0xFFFFFFFF)
    # The enforced charge mode takes exactly the three modes.
    if re.search(r"SETTINGS_KEY_POLICY, L\"ChargeMode\"", text) and \
            "mode != 0 && mode != 50 && mode != 80" in text:
        reads[("", "ChargeMode")] = {0, 50, 80}
    return reads


def subkey_of(key, errors, where):
    if key == POLICY_KEY:
        return ""
    if key == POLICY_KEY + "\\Refresh":
        return "Refresh"
    errors.append(f"{where}: key {key} is not the suite's policy key")
    return None


def check(root):
    errors = []
    try:
        admx = ET.parse(os.path.join(root, "policy/VADOvur.admx")).getroot()
        admls = {lang: ET.parse(os.path.join(root, f"policy/{lang}/VADOvur.adml")).getroot()
                 for lang in LANGUAGES}
    except ET.ParseError as e:
        return [f"not well-formed: {e}"]

    admx_text = read(root, "policy/VADOvur.admx")
    strings = set(re.findall(r"\$\(string\.(\w+)\)", admx_text))
    presentations = set(re.findall(r"\$\(presentation\.(\w+)\)", admx_text))
    if admx.find(f"{NS}policyNamespaces/{NS}target") is None:
        errors.append("no target namespace")
    for lang, adml in admls.items():
        have = {s.get("id") for s in adml.iter(f"{NS}string")}
        for name in sorted(strings - have):
            errors.append(f"{lang}: string {name} missing")
        for name in sorted(have - strings):
            errors.append(f"{lang}: string {name} not used")
        shown = {p.get("id"): p for p in adml.iter(f"{NS}presentation")}
        for name in sorted(presentations - set(shown)):
            errors.append(f"{lang}: presentation {name} missing")

    reads = store_reads(root)
    policies = list(admx.iter(f"{NS}policy"))
    if not policies:
        errors.append("no policies")
    for policy in policies:
        name = policy.get("name")
        if policy.get("class") != "Machine":
            errors.append(f"{name}: not a machine policy")
        if policy.find(f"{NS}supportedOn") is None or policy.find(f"{NS}parentCategory") is None:
            errors.append(f"{name}: no supportedOn or category")
        sub = subkey_of(policy.get("key"), errors, name)
        element_ids = set()
        values = []  # (value name, accepted by the template)
        if policy.get("valueName"):
            found = [int(d.get("value")) for tag in ("enabledValue", "disabledValue")
                     for d in policy.iter(f"{NS}{tag}") for d in d.iter(f"{NS}decimal")]
            values.append((policy.get("valueName"), set(found)))
        elements = policy.find(f"{NS}elements")
        for element in (elements if elements is not None else []):
            element_ids.add(element.get("id"))
            if element.get("key"):
                errors.append(f"{name}: element {element.get('id')} has a key of its own")
            tag = element.tag[len(NS):]
            if tag == "decimal":
                values.append((element.get("valueName"),
                               (int(element.get("minValue", "0")),
                                int(element.get("maxValue", "9999")))))
            elif tag == "enum":
                values.append((element.get("valueName"),
                               {int(d.get("value")) for d in element.iter(f"{NS}decimal")}))
            else:
                errors.append(f"{name}: element {tag} is not checked here")
        for lang, adml in admls.items():
            ref = re.match(r"\$\(presentation\.(\w+)\)", policy.get("presentation", ""))
            if not ref:
                continue
            for shown in adml.iter(f"{NS}presentation"):
                if shown.get("id") == ref.group(1):
                    for control in shown:
                        if control.get("refId") not in element_ids:
                            errors.append(f"{lang}: {ref.group(1)} shows {control.get('refId')}, "
                                          "no element of its policy")
        for value_name, accepted in values:
            store = reads.get((sub, value_name))
            if store is None:
                errors.append(f"{name}: the settings store reads no policy {sub}\\{value_name}")
            elif isinstance(accepted, tuple):
                if accepted != store:
                    errors.append(f"{name}: {value_name} range {accepted}, the store's {store}")
            elif isinstance(store, set):
                if accepted != store:
                    errors.append(f"{name}: {value_name} items {sorted(accepted)}, "
                                  f"the store's {sorted(store)}")
            elif not all(store[0] <= v <= store[1] for v in accepted):
                errors.append(f"{name}: {value_name} values {sorted(accepted)} outside {store}")
        print(f"{name}: {', '.join(v for v, _ in values)}")
    return errors


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "../..")
    errors = check(root)
    for error in errors:
        print(error)
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main())
