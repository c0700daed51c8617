# The test guest of scripts/test-hardware: its pieces (kernel, programs,
# initramfs), its start and stop, its two board lines, and the checks the cases
# use. Sourced by scripts/test-hardware; every wait here has a deadline.

# Gets the generic Debian kernel (it has the 8250 UART built in and the USB
# drivers as modules) without installing it: vmlinuz and the modules of the
# host controller, the FTDI adapter, the gadget stack (configfs, the dummy
# host and device controller, FunctionFS) and the CDC-ACM driver.
fetch_kernel() {
    local dir=$1
    [ -f "$dir/vmlinuz" ] && [ -f "$dir/ftdi_sio.ko" ] && [ -f "$dir/cdc-acm.ko" ] && return 0
    local package
    package=$(apt-cache depends linux-image-amd64 2>/dev/null |
        awk '/Depends: linux-image-[0-9]/ { print $2; exit }')
    [ -n "$package" ] || { echo "scripts/test-hardware: no linux-image-amd64 in the package lists (apt-get update)" >&2; exit 1; }
    rm -rf "$dir.tmp" && mkdir -p "$dir.tmp"
    (cd "$dir.tmp" && timeout 180 apt-get download -qq "$package" >/dev/null 2>&1) ||
        { echo "scripts/test-hardware: could not download $package" >&2; exit 1; }
    dpkg-deb --fsys-tarfile "$dir.tmp"/*.deb | tar -x -C "$dir.tmp" --wildcards \
        './boot/vmlinuz-*' './lib/modules/*/kernel/drivers/usb/common/usb-common.ko' \
        './lib/modules/*/kernel/drivers/usb/core/usbcore.ko' \
        './lib/modules/*/kernel/drivers/usb/host/xhci-*.ko' \
        './lib/modules/*/kernel/drivers/usb/serial/usbserial.ko' \
        './lib/modules/*/kernel/drivers/usb/serial/ftdi_sio.ko' \
        './lib/modules/*/kernel/fs/configfs/configfs.ko' \
        './lib/modules/*/kernel/drivers/usb/gadget/udc/udc-core.ko' \
        './lib/modules/*/kernel/drivers/usb/gadget/libcomposite.ko' \
        './lib/modules/*/kernel/drivers/usb/gadget/udc/dummy_hcd.ko' \
        './lib/modules/*/kernel/drivers/usb/gadget/function/usb_f_fs.ko' \
        './lib/modules/*/kernel/drivers/usb/class/cdc-acm.ko'
    mkdir -p "$dir"
    find "$dir.tmp/lib" -name '*.ko' -exec cp {} "$dir/" \;
    cp "$dir.tmp"/boot/vmlinuz-* "$dir/vmlinuz"
    rm -rf "$dir.tmp"
}

# The programs for the guest: vantoir and kelvor-sim (for the boards on the
# guest's USB CDC-ACM gadget) of the native build, the very programs the rest
# of the suite runs, with the shared libraries they load (make_initramfs); the
# guest's own tools, built static; and the host side: kelvor-sim,
# kelvor-hexgen and hwline.
guest_tools=(guest-serve port-wait closing-wait line-watch send-break)

build_programs() {
    local work=$1 tool
    local host=${VANTOIR_BUILD_DIR:-$root/build}
    if [ ! -f "$host/CMakeCache.txt" ]; then
        host=$work/host
        cmake -S "$root" -B "$host" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVANTOIR_WERROR=ON \
            -DVANTOIR_TESTS=OFF -DVANTOIR_BENCH=OFF >/dev/null
    fi
    cmake --build "$host" --target vantoir kelvor-sim kelvor-hexgen -j "$(nproc)" >/dev/null
    sim=$host/sim/kelvor-sim
    hexgen=$host/sim/kelvor-hexgen
    guest_sim=$sim
    guest_vantoir=$host/app/vantoir
    # VANTOIR_GUEST_SOURCE: run the cases against the program of another source
    # tree (the guest's simulated board, kelvor-sim, is always this tree's).
    if [ -n "${VANTOIR_GUEST_SOURCE:-}" ]; then
        cmake -S "$VANTOIR_GUEST_SOURCE" -B "$work/other" -DCMAKE_BUILD_TYPE=Release \
            -DVANTOIR_TESTS=OFF -DVANTOIR_BENCH=OFF >/dev/null
        cmake --build "$work/other" --target vantoir -j "$(nproc)" >/dev/null
        guest_vantoir=$work/other/app/vantoir
    fi
    for tool in "${guest_tools[@]}"; do
        if [ ! -x "$work/$tool" ] || [ "$root/tests/hardware/$tool.cpp" -nt "$work/$tool" ]; then
            g++ -std=c++17 -O2 -static -Wall -Wextra -Werror -o "$work/$tool" "$root/tests/hardware/$tool.cpp"
        fi
    done
    hwline=$work/hwline
    if [ ! -x "$hwline" ] || [ "$root/tests/hardware/hwline.cpp" -nt "$hwline" ]; then
        g++ -std=c++17 -O2 -Wall -Wextra -Werror -o "$hwline" "$root/tests/hardware/hwline.cpp"
    fi
}

# stage_program STAGE PROGRAM: PROGRAM into STAGE/bin without its debugging
# sections, and each shared library it loads (the dynamic loader among them)
# at the same path under STAGE, as ldd finds them here.
stage_program() {
    local stage=$1 program=$2 library
    strip --strip-debug -o "$stage/bin/$(basename "$program")" "$program"
    for library in $(ldd "$program" | awk '$2 == "=>" && $3 ~ /^\// { print $3 } $1 ~ /^\// { print $1 }'); do
        if [ ! -f "$stage$library" ]; then
            mkdir -p "$stage$(dirname "$library")"
            cp -L "$library" "$stage$library"
        fi
    done
}

# The files the cases send, made on the host and copied into the guest's /data.
make_data() {
    local data=$1
    mkdir -p "$data"
    "$hexgen" 20 >"$data/small.hex"
    "$hexgen" 85 >"$data/queued.hex"
    "$hexgen" 400 32 >"$data/huge.hex"
    printf ':0400000001020304F2\r\n:00000001FF' >"$data/noend.hex"
    local i byte all=""
    for i in $(seq 0 255); do
        printf -v byte '\\x%02x' "$i"
        all+=$byte
    done
    : >"$data/raw.bin"
    for i in $(seq 1 40); do printf "$all" >>"$data/raw.bin"; done
}

make_initramfs() {
    local work=$1
    local stage=$work/initramfs
    rm -rf "$stage" && mkdir -p "$stage"/{bin,lib/modules,proc,sys,dev,tmp}
    cp "$busybox" "$stage/bin/busybox"
    stage_program "$stage" "$guest_vantoir"
    stage_program "$stage" "$guest_sim"
    cp "${guest_tools[@]/#/$work/}" "$stage/bin/"
    cp "$work/kernel"/*.ko "$stage/lib/modules/"
    cp "$root/tests/hardware"/{init,guest-tools} "$stage/"
    chmod +x "$stage/init"
    make_data "$stage/data"
    (cd "$stage" && find . | "$busybox" cpio -o -H newc 2>/dev/null) >"$work/initramfs.cpio"
}

# Starts QEMU under hwline, which bridges its two board lines; returns once the
# guest serves commands.
start_guest() {
    run=$1
    rm -rf "$run" && mkdir -p "$run"
    local line
    for line in uart usb; do
        mkfifo "$run/$line.ctl" "$run/$line.reply"
    done
    exec {uart_ctl}<>"$run/uart.ctl" {uart_reply}<>"$run/uart.reply"
    exec {usb_ctl}<>"$run/usb.ctl" {usb_reply}<>"$run/usb.reply"
    # QEMU is ended when it outlives every case's turn (each run of the cases
    # takes about two minutes on a loaded machine).
    local lifetime=$((300 + 300 * ${repeat:-1}))
    coproc GUEST {
        exec "$hwline" guest "$run" -- timeout "$lifetime" qemu-system-x86_64 -accel tcg -m 256 \
            -nodefaults -no-reboot -display none \
            -kernel "$work/kernel/vmlinuz" -initrd "$work/initramfs.cpio" \
            -append "console=ttyS0 quiet loglevel=1 panic=-1" \
            -chardev stdio,id=console,signal=off -serial chardev:console \
            -chardev socket,id=uart,fd=3 -serial chardev:uart \
            -device qemu-xhci -chardev socket,id=usbline,fd=4 \
            -device usb-serial,id=u1,chardev=usbline \
            -monitor unix:"$run/monitor",server=on,wait=off 2>"$run/qemu.err"
    }
    pids+=("$GUEST_PID")
    exec {guest_in}>&"${GUEST[1]}" {guest_out}<&"${GUEST[0]}"
    guest_seq=0 guest_gone=0
    local reply
    while IFS= read -r -t 120 -u "$guest_out" reply; do
        reply=${reply%$'\r'}
        printf '%s\n' "$reply" >>"$run/console.log"
        case $reply in
        *@@FAULT*) echo "scripts/test-hardware: SUITE FAULT at boot: ${reply#*@@FAULT }" >&2 ;;
        *@@READY*) return 0 ;;
        esac
    done
    echo "scripts/test-hardware: the guest did not start; QEMU said:" >&2
    cat "$run/qemu.err" >&2
    exit 1
}

stop_guest() {
    local pid
    [ -z "${board_pid:-}" ] || kill "$board_pid" 2>/dev/null || true
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
}

# The command channel over the guest's console (its other end is
# tests/hardware/guest-serve.cpp). Every command goes framed with a sequence
# number and a checksum and is acknowledged before anything else is sent;
# every answer carries its sequence number and a checksum. A damaged frame,
# a missing acknowledgement or a silent guest is a suite fault: the case
# proves nothing about the program then.

# guest_frame SECONDS: reads the guest's next frame into $frame (its kind
# first, then its fields); lines that are not frames (kernel messages) go to
# console.log. Status 1 after SECONDS, 2 when the guest has stopped.
guest_frame() {
    local reply status
    while :; do
        status=0
        IFS= read -r -t "$1" -u "$guest_out" reply || status=$?
        if [ $status -ne 0 ]; then
            [ $status -gt 128 ] && return 1
            guest_gone=1
            return 2
        fi
        reply=${reply%$'\r'}
        case $reply in
        *@@*) frame=${reply#*@@} && return 0 ;;
        *) printf '%s\n' "$reply" >>"$run/console.log" ;;
        esac
    done
}

cksum_of() { cksum | cut -d' ' -f1,2; }

# guest_send SECONDS COMMAND [PATH]: starts COMMAND (sh) in the guest's /data,
# standard input from /dev/null, ended after SECONDS (counted in the guest);
# returns once the guest has acknowledged it. With PATH the answer says when
# PATH went missing while COMMAND ran. guest_collect waits for its end and
# leaves its output in $run/out and $run/err, its status in $rc, its run time
# in the guest in $run_ms and the time PATH went in $gone_ms ("-": it did not).
guest_send() {
    guest_limit=$1
    guest_seq=$((guest_seq + 1))
    printf '$ %s\n' "$2" >>"$run/$case_name.txt"
    guest_acked=0
    if [ "$guest_gone" = 1 ]; then
        suite_fault "the guest has stopped"
        return
    fi
    local body="$guest_seq $1 ${3:--} $2" hex crc
    hex=$(printf %s "$body" | "$busybox" xxd -p | tr -d '\n')
    crc=$(printf %s "$body" | cksum_of)
    printf '@@CMD %s %s\n' "$hex" "${crc% *}" >&"$guest_in"
    local deadline=$((SECONDS + 30)) fields
    while guest_frame $((deadline - SECONDS > 0 ? deadline - SECONDS : 1)); do
        read -r -a fields <<<"$frame"
        case ${fields[0]} in
        ACK)
            [ "${fields[1]:-}" = "$guest_seq" ] && guest_acked=1 && return
            ;;
        BAD)
            suite_fault "command $guest_seq reached the guest damaged (${fields[1]:-}): it read '$(
                "$busybox" xxd -r -p <<<"${fields[2]:-}" | tr -c '[:print:]' '?')'"
            return
            ;;
        esac
        [ $SECONDS -lt $deadline ] || break
    done
    suite_fault "the guest did not acknowledge command $guest_seq"
}

# guest_stream KIND FILE: the output frame of KIND (OUT or ERR) of the current
# command, checked, into FILE.
guest_stream() {
    local fields
    read -r -a fields <<<"$frame"
    [ "${fields[0]}" = "$1" ] && [ "${fields[1]}" = "$guest_seq" ] || return 1
    "$busybox" xxd -r -p <<<"${fields[4]:-}" >"$2"
    [ "$(cksum_of <"$2")" = "${fields[3]} ${fields[2]}" ] ||
        suite_fault "the guest's $1 of command $guest_seq arrived damaged"
}

guest_collect() {
    local deadline=$((SECONDS + guest_limit + 30)) fields status
    rc=none run_ms=0 gone_ms=-
    : >"$run/out" && : >"$run/err"
    [ "$guest_acked" = 1 ] || return 0
    while :; do
        status=0
        guest_frame $((deadline - SECONDS > 0 ? deadline - SECONDS : 1)) || status=$?
        [ $status -eq 0 ] || break
        guest_stream OUT "$run/out" || guest_stream ERR "$run/err" || {
            read -r -a fields <<<"$frame"
            [ "${fields[0]}" = RC ] && [ "${fields[1]}" = "$guest_seq" ] || continue
            if [ "$(printf %s "${fields[*]:1:4}" | cksum_of | cut -d' ' -f1)" != "${fields[5]:-}" ]; then
                suite_fault "the guest's status of command $guest_seq arrived damaged"
                return
            fi
            rc=${fields[2]} run_ms=${fields[3]} gone_ms=${fields[4]}
            { cat "$run/out" "$run/err"; echo "[status $rc, $run_ms ms in the guest]"; } >>"$run/$case_name.txt"
            return
        }
        [ $SECONDS -lt $deadline ] || break
    done
    if [ $status -eq 2 ]; then
        suite_fault "the guest stopped during command $guest_seq"
    else
        suite_fault "the guest gave no status for command $guest_seq within $((guest_limit + 30)) s"
    fi
}

guest() {
    guest_send "$@"
    guest_collect
}

# board_start LINE [kelvor-sim options]: a fresh simulated board on LINE
# (uart or usb), taking what the guest sends at $rate baud (0: at once).
board_start() {
    local line=$1
    shift
    board_line=$line
    board_log=$run/$case_name.log
    exec {board_fd}< <(exec "$sim" --timeout 120 --quiet --log "$board_log" "$@" 2>"$run/$case_name.sim")
    board_pid=$!
    IFS= read -r -t 30 -u "$board_fd" board_pty || suite_fault "kelvor-sim printed no port"
    bridge_command "open $board_pty ${rate:-0}"
}

bridge_command() {
    local ctl reply answer
    if [ "$board_line" = uart ]; then ctl=$uart_ctl reply=$uart_reply; else ctl=$usb_ctl reply=$usb_reply; fi
    echo "$1" >&"$ctl"
    IFS= read -r -t 30 -u "$reply" answer || suite_fault "the line bridge did not answer '$1'"
}

# Ends the board (the line is unwired first) and sets $board_rc.
board_stop() {
    bridge_command close
    kill -INT "$board_pid" 2>/dev/null || true
    local deadline=$((SECONDS + 10))
    while kill -0 "$board_pid" 2>/dev/null && [ $SECONDS -lt $deadline ]; do sleep 0.05; done
    kill -KILL "$board_pid" 2>/dev/null || true
    board_rc=0
    wait "$board_pid" 2>/dev/null || board_rc=$?
    exec {board_fd}<&-
    board_pid=
}

# wait_board_log PATTERN SECONDS: waits until the board has received bytes
# matching the grep pattern.
wait_board_log() {
    local deadline=$((SECONDS + $2))
    until grep -qa -- "$1" "$board_log" 2>/dev/null; do
        [ $SECONDS -lt $deadline ] || { fail "the board never received '$1'"; return 1; }
        sleep 0.02
    done
}

monitor() {
    "$hwline" monitor "$run/monitor" "$1" >>"$run/monitor.log" 2>&1 || suite_fault "monitor command '$1' failed"
}

# Checks: each records a failure of the current case.
fail() { failures+=("$*"); }
# A failure of the suite's own machinery (channel, bridge, monitor, emulated
# adapter): the case then proves nothing about the program.
suite_fault() { faults+=("$*"); }
expect_rc() { [ "$rc" = "$1" ] || fail "exit status $rc, expected $1"; }
expect_out() { grep -qaF -- "$1" "$run/out" || fail "stdout lacks '$1'"; }
expect_no_out() { ! grep -qaF -- "$1" "$run/out" || fail "stdout has '$1'"; }
expect_err() {
    [ "$(cat "$run/err")" = "$1" ] || fail "stderr was '$(cat "$run/err")', expected '$1'"
}
expect_err_line() { grep -qaF -- "$1" "$run/err" || fail "stderr lacks '$1'"; }
expect_board() { [ "$board_rc" = "$1" ] || fail "kelvor-sim ended with $board_rc, expected $1: $(tail -n 3 "$run/$case_name.sim")"; }

joined() {
    local IFS=';'
    local text="$*"
    echo "${text//;/; }"
}

# run_case NAME: runs one case; prints PASS, FAIL or SUITE FAULT and sets
# $outcome to pass, fail or fault.
run_case() {
    case_name=$1 failures=() faults=() rate=0 board_pid=
    local t0=$SECONDS
    "case_$case_name" || true
    [ -z "$board_pid" ] || board_stop
    if [ ${#faults[@]} -gt 0 ]; then
        echo "SUITE FAULT $case_name: $(joined "${faults[@]}") (the suite's own machinery failed, so the case says nothing about the program${failures:+; its checks: $(joined "${failures[@]}")})"
        outcome=fault
    elif [ ${#failures[@]} -eq 0 ]; then
        echo "PASS $case_name ($((SECONDS - t0)) s)"
        outcome=pass
    else
        echo "FAIL $case_name: $(joined "${failures[@]}")"
        sed 's/^/    stdout: /' "$run/out" | tr '\r' '|' | tail -n 8
        sed 's/^/    stderr: /' "$run/err" | tail -n 4
        outcome=fail
    fi
}

# run_cases PATTERN RUNS: runs the cases whose names match PATTERN, RUNS
# times over in this boot; with more than one run, a tally per case. The last
# line counts every case run: "N passed, N failed" (suite faults among the
# failed). Fails when any case failed once.
run_cases() {
    local pattern=$1 runs=$2 name round passed=0 failed=0 faulted=0 chosen=()
    local -A won=() lost=()
    for name in "${cases[@]}"; do
        [[ -n $pattern && ! $name =~ $pattern ]] || chosen+=("$name")
    done
    for ((round = 1; round <= runs; round++)); do
        [ "$runs" -eq 1 ] || echo "== run $round of $runs ($SECONDS s)"
        for name in "${chosen[@]}"; do
            run_case "$name"
            case $outcome in
            pass) passed=$((passed + 1)) won[$name]=$((${won[$name]:-0} + 1)) ;;
            fault) failed=$((failed + 1)) faulted=$((faulted + 1)) lost[$name]=$((${lost[$name]:-0} + 1)) ;;
            *) failed=$((failed + 1)) ;;
            esac
        done
    done
    if [ "$runs" -gt 1 ]; then
        echo "== tally over $runs runs"
        for name in "${chosen[@]}"; do
            printf '%-56s %d/%d%s\n' "$name" "${won[$name]:-0}" "$runs" \
                "${lost[$name]:+ (${lost[$name]} suite faults)}"
        done
    fi
    [ $faulted -eq 0 ] || echo "$faulted of the failures are suite faults (the suite's machinery, not the program)"
    echo "$passed passed, $failed failed"
    [ $failed -eq 0 ]
}
