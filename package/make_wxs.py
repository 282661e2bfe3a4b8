#!/usr/bin/env python3
"""Writes the installer source (.wxs) of the suite for wixl.

Every file that the build has is packed; a program that is not built yet is
left out, so the package grows with the suite. Component GUIDs follow from
the file names, so each file keeps its component from one version to the
next.

  make_wxs.py --bin BUILD/bin --version 1.0.0 --device-library cellio.dll
              --device-name simulated --out VADOvur.wxs
"""
import argparse
import os
import sys
import uuid
from xml.sax.saxutils import quoteattr

UPGRADE_CODE = "980293ff-d6af-4d99-9840-f55f7bcf0161"
COMPONENT_NAMESPACE = uuid.UUID("fa63118d-0bb9-4991-be47-14f15223eb07")
HERE = os.path.dirname(os.path.abspath(__file__))

PROGRAMS = ["zbMain.exe", "zbRefresh.exe", "zbSched.exe", "instzbw.exe", "instzb.exe"]
BUILT_FILES = ["KX_NTF.dll", "refreshplan", "VADOvur.chm"]
# The installer's files beside the scheduler, used and deleted by instzbw.
INSTALLER_FILES = ["zbSched.exe.run.xml", "zbSched.exe.xml", "zbSched.exe.reg"]
REQUIRED = ["instzbw.exe"]
# The Group Policy templates, in the folder layout of PolicyDefinitions, so
# that an administrator copies the "policy" folder's contents as they are.
POLICY_DIRS = [("policy", "", ["VADOvur.admx"]), ("policy_en_US", "en-US", ["VADOvur.adml"]),
               ("policy_ja_JP", "ja-JP", ["VADOvur.adml"])]


def component(file_id, source, name, guid_key=None):
    guid = uuid.uuid5(COMPONENT_NAMESPACE, (guid_key or name).lower())
    return (f'          <Component Id={quoteattr("C_" + file_id)} Guid="{guid}" Win64="yes">\n'
            f'            <File Id={quoteattr(file_id)} Name={quoteattr(name)} '
            f'Source={quoteattr(source)} KeyPath="yes"/>\n'
            f'          </Component>\n')


def file_id(name):
    return "F_" + "".join(c if c.isalnum() else "_" for c in name)


def policy_folder(out):
    """The policy folder's Directory element and its component ids. Their
    GUIDs follow from the path in the program folder: both languages'
    files have the same name."""
    ids = []
    xml = ""
    for dir_id, sub, names in reversed(POLICY_DIRS):
        comps = ""
        for name in names:
            rel = "/".join(p for p in ("policy", sub, name) if p)
            source = os.path.relpath(os.path.join(HERE, "..", rel),
                                     os.path.dirname(os.path.abspath(out)))
            comps += component(file_id(rel), source, name, guid_key=rel)
            ids.append("C_" + file_id(rel))
        inner = xml if not sub else ""
        xml = (xml if sub else "") + (
            f'          <Directory Id="{dir_id}" Name="{sub or "policy"}">\n{comps}{inner}'
            '          </Directory>\n')
    return xml, ids


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--device-library", required=True)
    parser.add_argument("--device-name", required=True)
    parser.add_argument("--out", required=True)
    args = parser.parse_args()

    files = []  # (name, source)
    for name in PROGRAMS + BUILT_FILES:
        source = os.path.join(args.bin, name)
        if os.path.isfile(source):
            files.append((name, source))
        elif name in REQUIRED:
            print(f"make_wxs: {source} is missing", file=sys.stderr)
            return 1
        else:
            print(f"make_wxs: {name} is not built, left out", file=sys.stderr)
    if not os.path.isfile(args.device_library):
        print(f"make_wxs: device library {args.device_library} is missing", file=sys.stderr)
        return 1
    files.append(("cellio.dll", os.path.abspath(args.device_library)))
    for name in INSTALLER_FILES:
        files.append((name, os.path.join(HERE, name)))
    names = [name for name, _ in files]

    # App Paths: where instzbw /Commit finds the scheduler, and with it the
    # installer's files beside it.
    app_paths_guid = uuid.uuid5(COMPONENT_NAMESPACE, "app paths")
    components = [
        f'          <Component Id="C_AppPaths" Guid="{app_paths_guid}" Win64="yes">\n'
        '            <RegistryValue Root="HKLM" Key="SOFTWARE\\Microsoft\\Windows\\'
        'CurrentVersion\\App Paths\\zbSched.exe" Type="string" '
        'Value="[INSTALLDIR]zbSched.exe" KeyPath="yes"/>\n'
        '          </Component>\n'
    ]
    for name, source in files:
        # wixl takes sources relative to the .wxs.
        source = os.path.relpath(source, os.path.dirname(os.path.abspath(args.out)))
        components.append(component(file_id(name), source, name))
    policy_xml, policy_ids = policy_folder(args.out)
    components.append(policy_xml)
    refs = ['      <ComponentRef Id="C_AppPaths"/>\n']
    refs += [f'      <ComponentRef Id={quoteattr("C_" + file_id(n))}/>\n' for n in names]
    refs += [f'      <ComponentRef Id={quoteattr(i)}/>\n' for i in policy_ids]

    shortcut = ""
    if "zbMain.exe" in names:
        shortcut = f"""      <Directory Id="ProgramMenuFolder">
        <Directory Id="MenuDir" Name="VADOvur">
          <Component Id="C_MenuShortcut" Guid="{uuid.uuid5(COMPONENT_NAMESPACE, 'menu')}">
            <Shortcut Id="S_zbMain" Name="VADOvur" Description="Battery refresh and diagnosis"
                      Target="[INSTALLDIR]zbMain.exe" WorkingDirectory="INSTALLDIR"/>
            <RemoveFolder Id="R_MenuDir" On="uninstall"/>
            <RegistryValue Root="HKCU" Key="Software\\ZEL\\VADOvur\\Installer" Name="MenuShortcut"
                           Type="integer" Value="1" KeyPath="yes"/>
          </Component>
        </Directory>
      </Directory>
"""
        refs.append('      <ComponentRef Id="C_MenuShortcut"/>\n')

    # The user's scheduler holds its program and the device library open. On
    # Windows it runs in the user's session, where the uninstall helper
    # (SYSTEM, session 0) cannot see its window: it is ended as the user,
    # after the helper's work and before the files go, so that the removal
    # leaves nothing behind until the next restart. "/end" starts nothing
    # when no scheduler runs.
    scheduler_end_action = scheduler_end_step = ""
    if "zbSched.exe" in names:
        scheduler_end_action = f"""    <CustomAction Id="SchedulerEnd" FileKey="{file_id('zbSched.exe')}" ExeCommand="/end"
                  Execute="deferred" Impersonate="yes" Return="ignore"/>
"""
        scheduler_end_step = """      <Custom Action="SchedulerEnd" Sequence="3495">REMOVE="ALL"</Custom>
"""

    wxs = f"""<?xml version="1.0" encoding="utf-8"?>
<!-- Made by package/make_wxs.py; device library: {args.device_name} -->
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="*" Name="VADOvur" Language="1033" Version="{args.version}"
           Manufacturer="ZEL" UpgradeCode="{UPGRADE_CODE}">
    <Package InstallerVersion="200" Compressed="yes" InstallScope="perMachine"
             Description="VADOvur battery refresh and diagnosis {args.version}"
             Comments="Device library: {args.device_name}"/>
    <Media Id="1" Cabinet="vadovur.cab" EmbedCab="yes"/>
    <Property Id="ARPCOMMENTS" Value="Device library: {args.device_name}"/>
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="ProgramFiles64Folder">
        <Directory Id="INSTALLDIR" Name="VADOvur">
{''.join(components)}        </Directory>
      </Directory>
{shortcut}    </Directory>
    <Feature Id="Main" Level="1">
{''.join(refs)}    </Feature>
    <!-- The install helper with the installer's rights once everything is in
         place (files and App Paths), at install and at a repair (which puts
         the helper's files back and replaces both tasks), and before the
         files go at removal (ends a refresh, resets the batteries, deletes
         the tasks and the settings key); its result is ignored. Sequence numbers: wixl 0.101 ignores Before and
         After (6590 is just before InstallFinalize, 3490 before RemoveFiles). -->
    <CustomAction Id="HelperCommit" FileKey="{file_id('instzbw.exe')}" ExeCommand="/Commit"
                  Execute="deferred" Impersonate="no" Return="ignore"/>
    <CustomAction Id="HelperUninstall" FileKey="{file_id('instzbw.exe')}" ExeCommand="/Uninstall"
                  Execute="deferred" Impersonate="no" Return="ignore"/>
{scheduler_end_action}    <InstallExecuteSequence>
      <Custom Action="HelperCommit" Sequence="6590">NOT REMOVE</Custom>
      <Custom Action="HelperUninstall" Sequence="3490">REMOVE="ALL"</Custom>
{scheduler_end_step}    </InstallExecuteSequence>
  </Product>
</Wix>
"""
    with open(args.out, "w", encoding="utf-8") as f:
        f.write(wxs)
    return 0


if __name__ == "__main__":
    sys.exit(main())
