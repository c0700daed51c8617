# The test guest of scripts/test-hardware: its pieces (kernel, static program,
# initramfs), its start and stop, its two board lines, and the checks the cases
# use. Sourced by scripts/test-hardware; every wait here has a deadline.

# Gets the generic Debian kernel (it has the 8250 UART built in and the USB
# drivers as modules) without installing it: vmlinuz and the six modules.
fetch_kernel() {
    local dir=$1
    [ -f "$dir/vmlinuz" ] && [ -f "$dir/ftdi_sio.ko" ] && return 0
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
        './lib/modules/*/kernel/drivers/usb/serial/ftdi_sio.ko'
    mkdir -p "$dir"
    find "$dir.tmp/lib" -name '*.ko' -exec cp {} "$dir/" \;
    cp "$dir.tmp"/boot/vmlinuz-* "$dir/vmlinuz"
    rm -rf "$dir.tmp"
}

# The static program for the guest, and the host side: kelvor-sim,
# kelvor-hexgen (from the native build when there is one) and hwline.
build_programs() {
    local work=$1
    # VANTOIR_GUEST_SOURCE: run the cases against the program of another source tree.
    static=$work/static${VANTOIR_GUEST_SOURCE:+-other}
    cmake -S "${VANTOIR_GUEST_SOURCE:-$root}" -B "$static" -DCMAKE_BUILD_TYPE=Release -DVANTOIR_WERROR=ON \
        -DVANTOIR_TESTS=OFF -DVANTOIR_BENCH=OFF -DCMAKE_EXE_LINKER_FLAGS=-static -DOPENSSL_USE_STATIC_LIBS=TRUE >/dev/null
    cmake --build "$static" --target vantoir -j 2 >/dev/null
    if [ ! -x "$work/closing-wait" ] || [ "$root/tests/hardware/closing-wait.cpp" -nt "$work/closing-wait" ]; then
        g++ -std=c++17 -O2 -static -Wall -Wextra -Werror -o "$work/closing-wait" "$root/tests/hardware/closing-wait.cpp"
    fi
    local host=${VANTOIR_BUILD_DIR:-$root/build}
    if [ ! -f "$host/CMakeCache.txt" ]; then
        host=$work/host
        cmake -S "$root" -B "$host" -DVANTOIR_TESTS=OFF -DVANTOIR_BENCH=OFF >/dev/null
    fi
    cmake --build "$host" --target kelvor-sim kelvor-hexgen -j 2 >/dev/null
    sim=$host/sim/kelvor-sim
    hexgen=$host/sim/kelvor-hexgen
    hwline=$work/hwline
    if [ ! -x "$hwline" ] || [ "$root/tests/hardware/hwline.cpp" -nt "$hwline" ]; then
        g++ -std=c++17 -O2 -Wall -Wextra -Werror -o "$hwline" "$root/tests/hardware/hwline.cpp"
    fi
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
    cp "$static/app/vantoir" "$work/closing-wait" "$stage/bin/"
    cp "$work/kernel"/*.ko "$stage/lib/modules/"
    cp "$root/tests/hardware"/{init,guest-serve,guest-tools} "$stage/"
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
    coproc GUEST {
        exec "$hwline" guest "$run" -- timeout 900 qemu-system-x86_64 -accel tcg -m 256 \
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
    local reply
    while IFS= read -r -t 120 -u "$guest_out" reply; do
        [[ $reply == *@@READY* ]] && return 0
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

# guest_send SECONDS COMMAND: runs COMMAND (sh) in the guest's /data, standard
# input from /dev/null, ended after SECONDS; guest_collect waits for its end
# and leaves its output in $run/out and $run/err, its status in $rc.
guest_send() {
    guest_limit=$1
    printf '$ %s\n' "$2" >>"$run/$case_name.txt"
    printf '%s %s\n' "$1" "${2//$'\n'/ }" >&"$guest_in"
}

guest_collect() {
    local reply deadline=$((SECONDS + guest_limit + 20))
    rc=
    : >"$run/out" && : >"$run/err"
    while [ $SECONDS -lt $deadline ] && IFS= read -r -t $((deadline - SECONDS)) -u "$guest_out" reply; do
        reply=${reply%$'\r'}
        case $reply in
        *@@OUT*) "$busybox" xxd -r -p <<<"${reply#*@@OUT }" >"$run/out" ;;
        *@@ERR*) "$busybox" xxd -r -p <<<"${reply#*@@ERR }" >"$run/err" ;;
        *@@RC*)
            rc=${reply#*@@RC }
            { cat "$run/out" "$run/err"; echo "[status $rc]"; } >>"$run/$case_name.txt"
            return 0
            ;;
        esac
    done
    fail "the guest did not answer within $((guest_limit + 20)) s"
    rc=none
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
    IFS= read -r -t 10 -u "$board_fd" board_pty || fail "kelvor-sim printed no port"
    bridge_command "open $board_pty ${rate:-0}"
}

bridge_command() {
    local ctl reply answer
    if [ "$board_line" = uart ]; then ctl=$uart_ctl reply=$uart_reply; else ctl=$usb_ctl reply=$usb_reply; fi
    echo "$1" >&"$ctl"
    IFS= read -r -t 10 -u "$reply" answer || fail "the line bridge did not answer"
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
    "$hwline" monitor "$run/monitor" "$1" >>"$run/monitor.log" 2>&1 || fail "monitor command '$1' failed"
}

# Checks: each records a failure of the current case.
fail() { failures+=("$*"); }
expect_rc() { [ "$rc" = "$1" ] || fail "exit status $rc, expected $1"; }
expect_out() { grep -qaF -- "$1" "$run/out" || fail "stdout lacks '$1'"; }
expect_no_out() { ! grep -qaF -- "$1" "$run/out" || fail "stdout has '$1'"; }
expect_err() {
    [ "$(cat "$run/err")" = "$1" ] || fail "stderr was '$(cat "$run/err")', expected '$1'"
}
expect_err_line() { grep -qaF -- "$1" "$run/err" || fail "stderr lacks '$1'"; }
expect_board() { [ "$board_rc" = "$1" ] || fail "kelvor-sim ended with $board_rc, expected $1: $(tail -n 3 "$run/$case_name.sim")"; }

run_cases() {
    local name passed=0 failed=0
    for name in "${cases[@]}"; do
        [[ -z $1 || $name =~ $1 ]] || continue
        case_name=$name failures=() rate=0 board_pid=
        local t0=$SECONDS
        "case_$name" || true
        [ -z "$board_pid" ] || board_stop
        if [ ${#failures[@]} -eq 0 ]; then
            echo "PASS $name ($((SECONDS - t0)) s)"
            passed=$((passed + 1))
        else
            echo "FAIL $name: $(printf '%s; ' "${failures[@]}")"
            sed 's/^/    stdout: /' "$run/out" | tr '\r' '|' | tail -n 8
            sed 's/^/    stderr: /' "$run/err" | tail -n 4
            failed=$((failed + 1))
        fi
    done
    echo "$passed passed, $failed failed"
    [ $failed -eq 0 ]
}
