#!/usr/bin/env python3
"""Turns the benchmarks' JSON output into docs/PERFORMANCE.md: each figure beside the baseline
measured in the same run, as medians of repetitions, with ratios, allocations per call, the
target and whether the run met it (a row that misses says where its notes are)."""
import json
import sys

# (title, our benchmark, baseline benchmark or None, target text)
# The target is checked where CHECKS names it: ("ratio", most) bounds ours / baseline,
# ("time", most ns) bounds our figure alone.
ROWS = [
    ("Event write + read back (string, scalars, 64-entry block)", "BM_EventWriteRead_ExactHint",
     "BM_EventWriteRead_MemcpyBaseline", "one buffer allocation with an exact hint"),
    ("Trace site, disabled", "BM_TraceSiteDisabled", "BM_TraceSite_VirtualCallBaseline",
     "< 1 ns, no call"),
    ("Trace site, enabled, 8 arguments", "BM_TraceSiteEnabled8Args", None,
     "<= 100 ns, no heap allocation"),
    ("GetPrivilege2 round trip, 16 privileges", "BM_GetPrivilege2RoundTrip16", None,
     "<= 0.5 us"),
    ("Logon2 round trip, 16 values + 16 UIDs", "BM_Logon2RoundTrip16", None, ""),
    ("EnumerateKeldraAdmins, 10,000 administrators", "BM_EnumerateKeldraAdmins10000",
     "BM_EnumerateKeldraAdmins_PlainVectorBaseline", "allocates only what the output owns"),
    ("EnumerateKeldraAdmins2, 10,000 administrators", "BM_EnumerateKeldraAdmins2_10000",
     "BM_EnumerateKeldraAdmins2_PlainVectorBaseline", "allocates only what the output owns"),
    ("MoveNodes, 100 nodes", "BM_MoveNodes100", None, ""),
    ("Group reply, 1,000 children", "BM_GroupReply1000Children", None, ""),
    ("ZEL_CRC16, 640 bytes", "BM_Crc16_640", "BM_Crc16_640_BytewiseBaseline",
     ">= 5x the byte-at-a-time table"),
    ("Node write + read, 16 UIDs", "BM_NodeWriteRead16Uids", None, ""),
    ("AllowedFolders += 1,000 folders", "BM_AllowedFoldersAdd1000", None,
     "quadratic by the growth rule"),
    ("RegisterObject x 10,000", "BM_RegisterObject/10000/iterations:3/manual_time",
     "BM_RegisterObject_RawSQLiteBaseline/10000/iterations:3/manual_time",
     ">= 0.5x raw autocommit inserts"),
    ("ReadGroupFromDirectory, 10,000 children", "BM_ReadGroupFromDirectory/10000",
     "BM_ReadGroup_RawIndexedScanBaseline/10000", "within 3x a raw indexed scan"),
    ("GetObjectW, 10,000 objects stored (beside 100)", "BM_GetObjectW/10000", "BM_GetObjectW/100",
     "flat in the number stored"),
    ("GetIconByUID, 10,000 icons stored (beside 100)", "BM_GetIconByUID/10000",
     "BM_GetIconByUID/100", "flat in the number stored"),
    ("RegisterIcon, 10,000 icons stored (beside 100)", "BM_RegisterIcon/10000",
     "BM_RegisterIcon/100", "flat in the number stored"),
    ("GetIconByName, 10,000 icons stored (beside 100)", "BM_GetIconByName/10000",
     "BM_GetIconByName/100", "flat in the number stored"),
    ("Subsystem: GetPrivilege2 through library, subsystem and store", "BM_SubsystemGetPrivilege2",
     "BM_GetPrivilege2_RawPointLookupBaseline", "within 2x a raw point lookup"),
    ("Subsystem: AddUsers3 of 1,000 in one request",
     "BM_SubsystemAddUsers3/1000/iterations:5/manual_time",
     "BM_AddUsers3_RawInsertsBaseline/1000/iterations:5/manual_time",
     ">= 0.5x raw inserts in one transaction"),
    ("Subsystem: EnumerateKeldraAdmins2 of 10,000", "BM_SubsystemEnumerateKeldraAdmins2/10000",
     "BM_EnumerateKeldraAdmins2_RawScanBaseline/10000", "within 3x a raw scan"),
    ("Request round trip over a Unix socket, 64-byte payload (client, server, echo subsystem)",
     "BM_TransportRoundTrip_Unix/real_time", "BM_RawPingPong_SocketPair/real_time",
     "within 1.2x the raw ping-pong plus the in-process round trip"),
    ("In-process round trip through the same echo subsystem", "BM_InProcessRoundTrip/real_time",
     None, ""),
    ("LDAP: RegisterObject x 10,000 (beside `ldapadd` of the LDIF the library wrote)",
     "BM_RegisterObject_LDAP/10000/iterations:1/manual_time",
     "BM_LdapAddBaseline/10000/iterations:1/manual_time", ">= 0.67x `ldapadd`"),
    ("LDAP: ReadGroupFromDirectory, 2,000 children", "BM_ReadGroupFromDirectory_LDAP/2000/iterations:3",
     "BM_LdapSearchOneLevelBaseline/2000/iterations:3", "within 1.5x `ldapsearch` one level"),
    ("LDAP: ReadGroupFromDirectory, 10,000 children",
     "BM_ReadGroupFromDirectory_LDAP/10000/iterations:3",
     "BM_LdapSearchOneLevelBaseline/10000/iterations:3", "within 1.5x `ldapsearch` one level"),
    ("LDAP: GetObjectW by DN, 10,000 objects stored (beside 100)", "BM_LookupByDN_LDAP/10000",
     "BM_LookupByDN_LDAP/100", "flat in the number stored"),
    ("LDAP: ReadEntry by UID, 10,000 objects stored (beside 100)", "BM_LookupByUID_LDAP/10000",
     "BM_LookupByUID_LDAP/100", "flat in the number stored"),
    ("LDAP: RegisterIcon of stored bits (by CRC), 10,000 icons stored (beside 100)",
     "BM_LookupByCRC_LDAP/10000", "BM_LookupByCRC_LDAP/100", "flat in the number stored"),
    ("LDAP: a poll of the change log that finds nothing, 10,000 changes logged (beside 100)",
     "BM_PollChanges_LDAP/10000", "BM_PollChanges_LDAP/100", "flat in the log's length"),
    ("Replication: a folder made through server A until a console of server B hears it (beside "
     "a console of A)", "BM_ReplicationDelay_AToConsoleOfB/iterations:10/real_time",
     "BM_ReplicationDelay_AToConsoleOfA_Baseline/real_time",
     "reported (B reads its change log every 200 ms)"),
    ("Web console: first page after log on (`/api/me`, `/api/tree`; beside `GET /` twice)",
     "BM_WebFirstPage/real_time", "BM_WebStaticPage_Baseline/real_time", "reported"),
    ("zeladmin start to first answer (`admins list`)", "BM_ZeladminFirstAnswer/real_time",
     "BM_ProcessStart_TrueBaseline/real_time", "<= 100 ms"),
    ("Farm: GetPrivilege2 over a Unix socket (beside raw socket-pair ping-pong + in process)",
     "BM_FarmGetPrivilege2_Unix/real_time",
     ("BM_RawPingPong_SocketPair_GetPrivilege2Bytes/real_time",
      "BM_InProcessGetPrivilege2_Owner/real_time"),
     "within 1.2x the raw ping-pong plus the in-process round trip"),
    ("Farm: GetPrivilege2 over TLS on loopback (beside raw TCP ping-pong + in process)",
     "BM_FarmGetPrivilege2_Tls/real_time",
     ("BM_RawPingPong_Tcp_GetPrivilege2Bytes/real_time",
      "BM_InProcessGetPrivilege2_Administrator/real_time"), "reported"),
    ("Farm: GetPrivilege2 over a Unix socket (beside a D-Bus call of the same payloads + in "
     "process)", "BM_FarmGetPrivilege2_Unix/real_time",
     ("BM_DBusMethodCall_GetPrivilege2Payloads/real_time",
      "BM_InProcessGetPrivilege2_Owner/real_time"), "ours ahead (< 1)"),
    ("Farm: GetPrivilege2 in process, owner", "BM_InProcessGetPrivilege2_Owner/real_time", None,
     ""),
    ("Farm: 1 console x 200 GetPrivilege2 (beside 1 raw ping-pong)",
     "BM_FarmThroughput_Unix/1/real_time", "BM_RawThroughput_SocketPair/1/real_time", ""),
    ("Farm: 2 consoles x 200 GetPrivilege2 at once (beside 2 raw ping-pongs)",
     "BM_FarmThroughput_Unix/2/real_time", "BM_RawThroughput_SocketPair/2/real_time", ""),
    ("Farm: 4 consoles x 200 GetPrivilege2 at once (beside 4 raw ping-pongs)",
     "BM_FarmThroughput_Unix/4/real_time", "BM_RawThroughput_SocketPair/4/real_time", ""),
    ("Farm: 8 consoles x 200 GetPrivilege2 at once (beside 8 raw ping-pongs)",
     "BM_FarmThroughput_Unix/8/real_time", "BM_RawThroughput_SocketPair/8/real_time", ""),
    ("Farm: a folder made until the last of 100 subscribed consoles has it (beside the request "
     "alone)", "BM_FanOut100Consoles/real_time", "BM_FarmCreateFolder_Unix/real_time", ""),
]

CHECKS = {
    "BM_EventWriteRead_ExactHint": None,
    "BM_TraceSiteDisabled": ("time", 1.0),
    "BM_TraceSiteEnabled8Args": ("time", 100.0),
    "BM_GetPrivilege2RoundTrip16": ("time", 500.0),
    "BM_Crc16_640": ("ratio", 0.2),
    "BM_RegisterObject/10000/iterations:3/manual_time": ("ratio", 2.0),
    "BM_ReadGroupFromDirectory/10000": ("ratio", 3.0),
    "BM_GetObjectW/10000": ("ratio", 1.5),
    "BM_GetIconByUID/10000": ("ratio", 1.5),
    "BM_RegisterIcon/10000": ("ratio", 1.5),
    "BM_GetIconByName/10000": ("ratio", 1.5),
    "BM_SubsystemGetPrivilege2": ("ratio", 2.0),
    "BM_SubsystemAddUsers3/1000/iterations:5/manual_time": ("ratio", 2.0),
    "BM_SubsystemEnumerateKeldraAdmins2/10000": ("ratio", 3.0),
    "BM_TransportRoundTrip_Unix/real_time": ("ratio", 1.2),
    "BM_RegisterObject_LDAP/10000/iterations:1/manual_time": ("ratio", 1.5),
    "BM_LookupByDN_LDAP/10000": ("ratio", 1.5),
    "BM_LookupByUID_LDAP/10000": ("ratio", 1.5),
    "BM_LookupByCRC_LDAP/10000": ("ratio", 1.5),
    "BM_PollChanges_LDAP/10000": ("ratio", 1.5),
    "BM_ReadGroupFromDirectory_LDAP/2000/iterations:3": ("ratio", 1.5),
    "BM_ReadGroupFromDirectory_LDAP/10000/iterations:3": ("ratio", 1.5),
    "BM_ZeladminFirstAnswer/real_time": ("time", 100e6),
    ("BM_FarmGetPrivilege2_Unix/real_time",
     ("BM_RawPingPong_SocketPair_GetPrivilege2Bytes/real_time",
      "BM_InProcessGetPrivilege2_Owner/real_time")): ("ratio", 1.2),
    ("BM_FarmGetPrivilege2_Unix/real_time",
     ("BM_DBusMethodCall_GetPrivilege2Payloads/real_time",
      "BM_InProcessGetPrivilege2_Owner/real_time")): ("ratio", 1.0),
}


def verdict(ours, baseline, base, medians):
    """"met", "missed" or "" (no checked target, or not measured); `base` is the baseline's
    figure (the sum of a tuple of baselines)."""
    check = CHECKS.get((ours, baseline), CHECKS.get(ours))
    if check is None or ours not in medians:
        return ""
    kind, most = check
    if kind == "time":
        return "met" if medians[ours] <= most else "missed"
    if not base:
        return ""
    return "met" if medians[ours] / base <= most else "missed"

UNITS = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}


def load(paths):
    medians, counters = {}, {}
    for path in paths:
        with open(path) as f:
            data = json.load(f)
        for run in data["benchmarks"]:
            name = run.get("run_name", run["name"])
            if run.get("error_occurred"):
                continue  # a run that failed measured nothing
            aggregate = run.get("aggregate_name")
            if aggregate not in (None, "median"):
                continue
            if aggregate is None and name in medians:
                continue  # a median already stands for it
            medians[name] = run["real_time"] * UNITS[run.get("time_unit", "ns")]
            counters[name] = {k: v for k, v in run.items()
                              if "allocs" in k or k.endswith("_per_s")}
    return medians, counters


def show(ns):
    for unit, scale in (("s", 1e9), ("ms", 1e6), ("us", 1e3)):
        if ns >= scale:
            return f"{ns / scale:.3g} {unit}"
    return f"{ns:.3g} ns"


def main():
    args = sys.argv[1:]
    label = "release build, medians of repetitions"
    if args[:1] == ["--label"]:
        label, args = args[1], args[2:]
    out, inputs = args[0], args[1:]
    medians, counters = load(inputs)
    lines = [
        "# Performance",
        "",
        f"Written by `scripts/run-benchmarks.sh` from one run of every benchmark ({label}).",
        "Each figure stands beside a baseline measured in the same run; on a shared machine the",
        "ratio is the figure to trust, not the absolute time.",
        "",
        "| Operation | Ours | Baseline | Ratio (ours / baseline) | Allocations per call | Target "
        "| This run |",
        "|---|---|---|---|---|---|---|",
    ]
    missing = []
    for title, ours, baseline, target in ROWS:
        parts = baseline if isinstance(baseline, tuple) else (baseline,) if baseline else ()
        missing += [name for name in (ours,) + parts if name not in medians]
        if ours not in medians:
            lines.append(f"| {title} | not measured | | | | {target} | |")
            continue
        # A tuple of baselines stands for their sum (a raw exchange plus the in-process work).
        base = sum(medians[p] for p in parts) if parts and all(p in medians for p in parts) \
            else None
        ratio = f"{medians[ours] / base:.2f}" if base else ""
        allocs = ", ".join(f"{k.replace('_', ' ')} {v:.3g}" for k, v in counters[ours].items()
                           if "allocs" in k)
        result = verdict(ours, baseline, base, medians)
        if result == "missed":
            result = "missed: see the notes"
        lines.append(f"| {title} | {show(medians[ours])} | {show(base) if base else ''} | {ratio} "
                     f"| {allocs} | {target} | {result} |")
    with open(out) as f:
        notes = f.read().split("<!-- notes -->", 1)
    lines += ["", "<!-- notes -->" + (notes[1] if len(notes) == 2 else "\n")]
    with open(out, "w") as f:
        f.write("\n".join(lines))
    # A figure the table names that no program measured: a renamed benchmark, or one that
    # failed. The table is written anyway; the caller hears which.
    for name in sorted(set(missing)):
        print(f"perf_report: not measured: {name}", file=sys.stderr)
    return 1 if missing else 0


if __name__ == "__main__":
    sys.exit(main())
