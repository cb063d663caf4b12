#!/usr/bin/env bash
# Slurm job array: one simulation block per array task, each with its own seed, on
# whatever nodes the cluster gives. Submit from the directory that holds this
# script's copy of the repository:
#
#   sbatch --array=1-K scripts/sim_slurm.sh INPUT_DIR OUT_DIR START END REALISATIONS SEEDS_FILE
#
# SEEDS_FILE holds one seed per line; task i runs the seed of line i as block i, so
# K is the number of lines. When every task has finished (for example a job
# submitted with --dependency=afterok:ARRAY_JOB_ID), join the blocks:
#
#   scripts/sim_merge.sh OUT_DIR > daily.csv
#
# OUT_DIR must be on a file system that all nodes share. Each task writes only its
# own OUT_DIR/blockNNNN; blocks.txt is written by the task of line 1 from the whole
# seed file, so the merge order is the order of the lines. The result is the same
# as sim_blocks.sh with the same seeds gives on one machine.
#SBATCH --job-name=dailygen-blocks
#SBATCH --ntasks=1
#SBATCH --cpus-per-task=1
#SBATCH --time=24:00:00
#SBATCH --output=dailygen-blocks-%A_%a.log
set -euo pipefail
[ $# -eq 6 ] || { sed -n '2,17p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2; }
in="$(cd "$1" && pwd)" out="$2" start="$3" end="$4" reals="$5" seeds="$6"
task="${SLURM_ARRAY_TASK_ID:?run this script through sbatch --array}"
# sbatch runs a copy of the script: find the repository from the submit directory.
scripts="${SLURM_SUBMIT_DIR:-$(pwd)}/scripts"
seed="$(sed -n "${task}p" "$seeds" | tr -d '[:space:]')"
[ -n "$seed" ] || { echo "sim_slurm.sh: $seeds has no line $task" >&2; exit 1; }
mkdir -p "$out"
out="$(cd "$out" && pwd)"
if [ "$task" -eq 1 ]; then
  awk -v reals="$reals" 'NF { print ++n, $1, reals }' "$seeds" > "$out/blocks.txt"
fi
DAILYGEN="${DAILYGEN:-${SLURM_SUBMIT_DIR:-$(pwd)}/build/dailygen/dailygen}" \
  "$scripts/sim_blocks.sh" --one-block "$in" "$out" "$start" "$end" "$reals" "$task" "$seed"
