#!/usr/bin/env bash
# Runs the collection workflow on a real Slurm cluster: a one-node cluster
# (munged, slurmctld and slurmd on loopback ports, all state in a scratch
# directory) started here and stopped on every way out. The bundled collection
# goes through the profile workflow/profiles/slurm, as the guide shows (docs/guide/collections.md), and
# then through a plain local run with -j 2. Checks that:
#   * every job Snakemake ran, except the local target rule `all`, was submitted
#     to Slurm, and the jobs per rule are those of the local run;
#   * each submitted job is in Slurm's job completion log, COMPLETED, under the
#     rule's job name, with the run's directory as its working directory, and
#     the log holds no other jobs;
#   * results/table.tsv equals the local run's.
# Needs root (the daemons run as root); skipped otherwise. If the cluster
# cannot be started, says why and fails.
#
#   slurm_test.sh SOURCE_DIR RNAQUBO RNAQUBO_SEQ RNAQUBO_FOLD
set -u
source "$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/../check_lib.sh"
[ "$(id -u)" -eq 0 ] || { echo "SKIP: starting slurmctld, slurmd and munged needs root"; exit 77; }
command -v snakemake > /dev/null || { echo "SKIP: snakemake is not installed"; exit 77; }
source_dir=$(realpath "$1") rnaqubo=$(realpath "$2") seq_exe=$(realpath "$3")
fold_exe=$(realpath "$4")
for program in munged munge slurmctld slurmd sbatch srun scontrol sinfo squeue scancel; do
  command -v "$program" > /dev/null ||
    { echo "FAIL: no $program: install the Debian packages slurm-wlm and munge"; exit 1; }
done
# Snakemake's Slurm support looks up the user's account by name.
export USER=${USER:-$(id -un)}

work=$(mktemp -d) || exit 1
chmod 755 "$work"  # munged wants every directory above its socket open to all
pids=()  # munged, slurmctld, slurmd, snakemake: stopped in reverse order
stop() {
  trap - EXIT INT TERM
  if [ -n "${SLURM_CONF:-}" ] && [ ${#pids[@]} -ge 3 ]; then
    timeout 10 scancel --quiet --full --user=root 2> /dev/null
    for ((k = 0; k < 10; k++)); do
      [ -z "$(timeout 5 squeue --noheader 2> /dev/null)" ] && break
      sleep 1
    done
  fi
  local pid k
  for ((k = ${#pids[@]} - 1; k >= 0; k--)); do
    pid=${pids[k]}
    kill "$pid" 2> /dev/null || continue
    for ((t = 0; t < 50; t++)); do kill -0 "$pid" 2> /dev/null || break; sleep 0.2; done
    kill -KILL "$pid" 2> /dev/null
    wait "$pid" 2> /dev/null
  done
  rm -rf "$work"
}
trap 'stop' EXIT
trap 'echo "interrupted"; exit 1' INT TERM
failures=0 checks=0
# fail WHAT: the cluster did not come up; shows the daemons' logs and stops.
fail() {
  echo "FAIL: $1"
  for log in "$work"/log/*; do
    [ -s "$log" ] && { echo "--- $(basename "$log")"; tail -n 15 "$log"; }
  done
  exit 1
}
# poll SECONDS COMMAND...: runs COMMAND (each try limited to 5 s) until it
# succeeds; gives up after SECONDS, or at once when the daemon last started is gone.
poll() {
  local end=$((SECONDS + $1))
  shift
  until timeout 5 "$@" > /dev/null 2>&1; do
    kill -0 "${pids[-1]}" 2> /dev/null || { echo "(it exited)"; return 1; }
    [ "$SECONDS" -lt "$end" ] || return 1
    sleep 0.5
  done
}

# munged, with a key of its own and its socket in the scratch directory.
mkdir -p "$work"/{key,run,log,state,spool,cluster,local} && chmod 700 "$work/key" || exit 1
head -c 1024 /dev/urandom > "$work/key/munge.key" && chmod 400 "$work/key/munge.key" || exit 1
socket=$work/run/munge.socket
munged --foreground --socket="$socket" --key-file="$work/key/munge.key" \
  --pid-file="$work/run/munged.pid" --seed-file="$work/key/munged.seed" \
  --log-file="$work/log/munged.log" < /dev/null > "$work/log/munged.out" 2>&1 &
pids+=($!)
poll 15 bash -c 'munge -S "$1" -n | unmunge -S "$1"' - "$socket" ||
  fail "munged did not start or does not answer on $socket"

# Two free loopback ports, for slurmctld and slurmd.
read -r ctld_port slurmd_port < <(/usr/bin/python3 -c '
import socket
sockets = [socket.socket() for _ in range(2)]
for s in sockets:
    s.bind(("127.0.0.1", 0))
print(*(s.getsockname()[1] for s in sockets))') || fail "no free loopback ports"
host=$(hostname -s)
# The node as slurmd sees this machine, so that it registers as configured.
node=$(slurmd -C 2> /dev/null | head -n 1)
cpus=$(sed -n 's/.* CPUs=\([0-9]*\).*/\1/p' <<< "$node")
memory=$(sed -n 's/.* RealMemory=\([0-9]*\).*/\1/p' <<< "$node")
[ -n "$cpus" ] && [ -n "$memory" ] || fail "slurmd -C does not describe this machine: $node"
export SLURM_CONF=$work/slurm.conf
cat > "$SLURM_CONF" << EOF
ClusterName=rnaqubo-test
SlurmctldHost=$host(127.0.0.1)
SlurmctldPort=$ctld_port
SlurmdPort=$slurmd_port
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$socket
StateSaveLocation=$work/state
SlurmdSpoolDir=$work/spool
SlurmctldPidFile=$work/run/slurmctld.pid
SlurmdPidFile=$work/run/slurmd.pid
SlurmctldLogFile=$work/log/slurmctld.log
SlurmdLogFile=$work/log/slurmd.log
MailProg=/bin/true
ProctrackType=proctrack/pgid
TaskPlugin=task/none
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
MpiDefault=none
ReturnToService=2
AccountingStorageType=accounting_storage/none
JobAcctGatherType=jobacct_gather/none
JobCompType=jobcomp/filetxt
JobCompLoc=$work/log/jobcomp.txt
NodeName=rqnode NodeHostname=$host NodeAddr=127.0.0.1 CPUs=$cpus RealMemory=$memory State=UNKNOWN
PartitionName=rq Nodes=rqnode Default=YES MaxTime=INFINITE State=UP
EOF
slurmctld -D -i -f "$SLURM_CONF" < /dev/null > "$work/log/slurmctld.out" 2>&1 &
pids+=($!)
poll 30 scontrol ping || fail "slurmctld did not start on port $ctld_port"
slurmd -D -N rqnode -f "$SLURM_CONF" < /dev/null > "$work/log/slurmd.out" 2>&1 &
pids+=($!)
poll 30 bash -c '[ "$(sinfo --noheader --nodes=rqnode --format=%t)" = idle ]' ||
  fail "slurmd did not start or its node is not idle: $(timeout 5 sinfo --noheader --Node --long 2>&1)"
echo "cluster up: slurmctld on 127.0.0.1:$ctld_port, slurmd on 127.0.0.1:$slurmd_port, $cpus CPUs"

# The two runs, each in a directory of its own holding the collection.
for dir in cluster local; do
  cp -r "$source_dir/examples" "$work/$dir/" || exit 1
done
# flow DIR LOG SECONDS OPTION...: the workflow in DIR, at most SECONDS long.
flow() {
  local dir=$1 log=$2 limit=$3
  shift 3
  (cd "$work/$dir" && exec timeout "$limit" snakemake -s "$source_dir/workflow/Snakefile" \
    --configfile "$source_dir/workflow/config.yaml" "$@" \
    --config rnaqubo="$rnaqubo" rnaqubo_seq="$seq_exe" rnaqubo_fold="$fold_exe" \
    mem_mb=200 runtime=10) < /dev/null > "$work/$dir/$log" 2>&1 &
  pids+=($!)
  wait "$!"
  local status=$?
  unset 'pids[-1]'
  [ "$status" -eq 0 ] && return 0
  tail -n 30 "$work/$dir/$log"
  echo "FAIL: the workflow in $dir failed (status $status)"
  return 1
}
flow cluster snakemake.log 150 --profile "$source_dir/workflow/profiles/slurm" \
  --default-resources mem_mb=200 runtime=10 || fail "the workflow did not run on the cluster"
flow local snakemake.log 60 -j 2 || exit 1

check "the table on the cluster equals the local one" \
  diff "$work/local/results/table.tsv" "$work/cluster/results/table.tsv"
check "the table has a row per record" test "$(wc -l < "$work/cluster/results/table.tsv")" -eq 4
check "the jobs ran under Slurm" /usr/bin/python3 - "$work" << 'PY'
import collections, pathlib, re, sys
work = pathlib.Path(sys.argv[1])

def jobs(log):
    """Snakemake's jobs in a run's log: jobid -> (kind, rule)."""
    found, current = {}, None
    for line in log.read_text().splitlines():
        head = re.fullmatch(r"(rule|checkpoint|localrule|localcheckpoint) (\w+):", line)
        if head:
            current = head.groups()
        elif current and (jobid := re.fullmatch(r"\s+jobid: (\d+)", line)):
            found[jobid.group(1)] = current
            current = None
    return found

problems = []
local = jobs(work / "local" / "snakemake.log")
cluster_log = work / "cluster" / "snakemake.log"
cluster = jobs(cluster_log)
submitted = dict(re.findall(r"Job (\d+) has been submitted with SLURM jobid (\d+)",
                            cluster_log.read_text()))
records = {}
for line in (work / "log" / "jobcomp.txt").read_text().splitlines():
    fields = dict(re.findall(r"(\w+)=(\S*)", line))
    records[fields["JobId"]] = fields
count = lambda found: collections.Counter(rule for _, rule in found.values())
if count(cluster) != count(local) or not {"split", "model", "fold", "table"} <= set(count(local)):
    problems.append(f"jobs per rule: on the cluster {dict(count(cluster))}, locally {dict(count(local))}")
for jobid, (kind, rule) in sorted(cluster.items()):
    if kind.startswith("local"):
        if rule != "all":
            problems.append(f"job {jobid} ({rule}) ran locally")
        continue
    slurm = submitted.get(jobid)
    record = records.get(slurm)
    if slurm is None:
        problems.append(f"job {jobid} ({rule}) was not submitted to Slurm")
    elif record is None:
        problems.append(f"job {jobid} ({rule}), Slurm job {slurm}: not in the completion log")
    elif (record["JobState"] != "COMPLETED" or not record["Name"].startswith(f"snakejob_{rule}_")
          or record["WorkDir"] != str(work / "cluster") or record["NodeList"] != "rqnode"):
        problems.append(f"job {jobid} ({rule}), Slurm job {slurm}: {record}")
if sorted(records) != sorted(submitted.values()):
    problems.append(f"Slurm ran {sorted(records)}, Snakemake submitted {sorted(submitted.values())}")
print(f"{len(submitted)} Slurm jobs for {len(cluster)} Snakemake jobs:",
      ", ".join(f"{rule} {n}" for rule, n in sorted(count(cluster).items())))
for problem in problems:
    print(problem)
sys.exit(1 if problems else 0)
PY

echo "$((checks - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
