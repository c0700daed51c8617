# The cases of scripts/test-hardware, run in this order. ttyS1 is the guest's
# 8250 UART, ttyUSB0 the emulated FTDI adapter; every unplug case plugs the
# adapter in again and proves it with a complete download. ttyACM0 is the
# guest's cdc_acm driver on a USB CDC-ACM gadget of the guest itself, played
# by kelvor-sim in the guest, which sees every line change the driver sends.

cases=(
    uart_download
    uart_raw_copy_byte_exact
    uart_console_keys_from_pipe
    uart_exclusive_open
    uart_rates_taken
    uart_rates_approximated_are_refused
    uart_rates_beyond_the_driver_are_refused
    uart_refused_run_leaves_no_handshake
    uart_slow_line_reply_not_taken_for_next_command
    uart_tail_sent_before_close
    uart_interrupt_counts_the_lines_the_board_got
    uart_console_keys_while_board_streams
    uart_last_record_without_line_end
    uart_reset_sequence_seen_step_by_step
    uart_no_reset_leaves_the_lines_alone
    uart_monitor_shows_the_program_from_its_first_byte
    usb_download_with_flash
    usb_rate_left_to_the_adapter
    usb_late_request_reply_is_not_a_count
    usb_late_count_reply_is_not_a_flash_acknowledgement
    usb_raw_copy_byte_exact
    usb_interrupt_counts_the_lines_the_board_got
    usb_unplug_while_polling
    usb_unplug_mid_upload
    usb_unplug_during_flash_wait
    usb_unplug_in_console
    usb_download_by_adapter_identity
    usb_monitor_shows_the_program_from_its_first_byte
    usb_reconnect_across_unplug_by_adapter_identity
    acm_download
    acm_reset_sequence_seen_step_by_step
    acm_reset_end_seen_and_nothing_else_at_close
    acm_boards_started_by_the_fixture_signal
    acm_power_command_switches_the_board_on
    acm_unplug_mid_upload
    acm_break_seen_with_its_time
    acm_download_by_the_port_name_the_board_printed
    acm_reconnect_across_unplug_by_adapter_identity
)

data=$work/initramfs/data
refusal="Error occurred: COMPort: could not modify serial port state."

# download LINE PORT [vantoir options]: a complete download of small.hex.
download() {
    local line=$1 port=$2
    shift 2
    board_start "$line"
    guest 30 "vantoir -P $port $* -F small.hex"
    board_stop
    expect_rc 0
    expect_out "File uploaded OK"
    expect_out "Start command sent to DSP"
    expect_board 0
}

# wait_board_bytes N SECONDS: waits until the board has received N bytes.
wait_board_bytes() {
    local deadline=$((SECONDS + $2))
    until [ "$(stat -c %s "$board_log" 2>/dev/null || echo 0)" -ge "$1" ]; do
        [ $SECONDS -lt $deadline ] || { fail "the board received $(stat -c %s "$board_log") of $1 bytes"; return 1; }
        sleep 0.02
    done
}

# raw_copy LINE COMMAND: COMMAND, a -R of raw.bin (every byte value), gets it
# to the board unchanged.
raw_copy() {
    board_start "$1" --no-protocol
    guest 30 "$2"
    expect_rc 0
    wait_board_bytes "$(stat -c %s "$data/raw.bin")" 10
    board_stop
    cmp -s "$board_log" "$data/raw.bin" || fail "the board received other bytes than raw.bin"
}

# refused PORT RATE: the rate ends the run with the refusal and a second line
# naming the rate; nothing reaches the board.
refused() {
    board_start uart
    guest 30 "vantoir -P $1 -B $2 -F small.hex"
    board_stop
    expect_rc 1
    [ "$(head -n 1 "$run/err")" = "$refusal" ] || fail "-B $2: first line of stderr is not the refusal"
    [ "$(wc -l <"$run/err")" -eq 2 ] || fail "-B $2: stderr has no second line saying what was refused"
    [ ! -s "$board_log" ] || fail "-B $2: the board received bytes"
}

case_uart_download() {
    download uart ttyS1
}

case_uart_raw_copy_byte_exact() {
    raw_copy uart "vantoir -P ttyS1 -R -F raw.bin"
}

case_uart_console_keys_from_pipe() {
    board_start uart --no-protocol --echo
    guest 30 ". /guest-tools; printf 'hi\r' | console_until ttyS1 hi"
    board_stop
    expect_out "Entering Console mode..."
    expect_out $'hi\r'
    [ "$(cat "$board_log")" = $'hi\r' ] || fail "the board received '$(cat -v "$board_log")', not 'hi^M'"
}

case_uart_exclusive_open() {
    board_start uart
    guest 30 ". /guest-tools; hold ttyS1; vantoir -P ttyS1 -F small.hex; s=\$?; release 2>/dev/null; exit \$s"
    board_stop
    expect_rc 1
    expect_err $'Error occurred: COMPort: failed to open.\n/dev/ttyS1: in use by another program'
}

case_uart_rates_taken() {
    local rate_
    for rate_ in 115200 57600 9600 1000; do
        download uart ttyS1 -B $rate_
    done
}

case_uart_rates_approximated_are_refused() {
    local rate_
    for rate_ in 12345 76800 100000; do
        refused ttyS1 $rate_
    done
}

case_uart_rates_beyond_the_driver_are_refused() {
    refused ttyS1 230400
    grep -q 115200 "$run/err" || fail "-B 230400: stderr does not say the port's highest rate 115200"
    refused ttyS1 0
}

# A run that ends before its line set-up gives back the rate and handshake it
# found (opening turns the handshake on, which would stall the next writer).
case_uart_refused_run_leaves_no_handshake() {
    guest 30 "stty -F /dev/ttyS1 9600 -crtscts 2>/dev/null; vantoir -P ttyS1 -B 230400 -F small.hex;
        stty -F /dev/ttyS1 -a 2>/dev/null"
    expect_out "Parsed command line"
    expect_out "speed 9600 baud"
    expect_out "-crtscts"
}

# queued.hex (3.9 KB) fits in the driver's buffer at once: at 9600 baud the
# records take 4 s to leave, and the wait for the count must start after them.
case_uart_slow_line_reply_not_taken_for_next_command() {
    rate=9600
    board_start uart --expect-flash
    guest 60 "vantoir -P ttyS1 -B 9600 -W -F queued.hex"
    board_stop
    expect_rc 0
    expect_out "File uploaded OK"
    expect_out "Start command sent to DSP"
    local counts
    counts=$(grep -ac $'^C\r$' "$board_log" || true)
    [ "$counts" = 1 ] || fail "\"C\" was sent $counts times"
    expect_board 0
}

# With the driver told to discard queued output at close (as a non-blocking
# descriptor is treated on BSD-derived systems), nothing may be lost.
case_uart_tail_sent_before_close() {
    rate=38400
    raw_copy uart "closing-wait /dev/ttyS1 none && vantoir -P ttyS1 -B 38400 -R -F raw.bin;
        s=\$?; closing-wait /dev/ttyS1 3000; exit \$s"
}

# interrupted_upload LINE PORT QUEUE: SIGTERM to a download of huge.hex at
# 38400 baud once 200 lines are uploaded, the driver's queue full behind the
# paced line; then a marker written to the port comes behind whatever still
# goes out. The record's records_sent must be the record lines the board got
# whole before the marker. QUEUE "dropped": the driver drops its queue (the
# 8250's 4 KB, some 50 lines), which the record takes back, so fewer than the
# 200 lines handed over count; "kept": the driver keeps its queue through the
# drop (the USB serial drivers) and sends it before the close, so they all do.
# The output file is emptied before the run starts: the guest is shared, and
# an earlier case's "200 lines" would send the signal before the run began.
interrupted_upload() {
    rate=38400
    board_start "$1"
    guest 60 ": >/tmp/v.out; vantoir -P $2 -B 38400 -F huge.hex --report /tmp/r.jsonl >>/tmp/v.out 2>&1 & p=\$!;
        until grep -q '200 lines' /tmp/v.out; do usleep 10000; done; kill -TERM \$p; wait \$p; s=\$?;
        printf '@@' >/dev/$2; cat /tmp/r.jsonl; rm -f /tmp/r.jsonl /tmp/v.out; exit \$s"
    expect_rc 143
    wait_board_log '@@' 30 || return
    board_stop
    local sent got at
    sent=$(sed -n 's/.*"records_sent":\([0-9]*\).*/\1/p' "$run/out")
    at=$(grep -abo '@@' "$board_log" | head -n 1 | cut -d: -f1)
    got=$(head -c $((at + 2)) "$board_log" | grep -ac $'^:[0-9A-F]*\r$' || true)
    echo "[records_sent $sent; the board got $got whole record lines]" >>"$run/$case_name.txt"
    [ -n "$sent" ] && [ "$sent" = "$got" ] || fail "records_sent was ${sent:-missing}, the board got $got whole record lines"
    if [ "$3" = dropped ]; then
        [ "${got:-0}" -gt 0 ] && [ "$got" -lt 200 ] || fail "the board got $got record lines: the drop took none back"
    else
        [ "${got:-0}" -ge 200 ] && [ "$got" -lt 400 ] || fail "the board got $got record lines, not the 200 and more handed over"
    fi
}

case_uart_interrupt_counts_the_lines_the_board_got() {
    interrupted_upload uart ttyS1 dropped
}

case_usb_interrupt_counts_the_lines_the_board_got() {
    interrupted_upload usb ttyUSB0 kept
}

# The keys go out while the board's 5 s line comes in; the echo of the last
# key, queued behind that line, ends the console.
case_uart_console_keys_while_board_streams() {
    board_start uart --no-protocol --echo --baud 115200 --long-line 60000
    guest 40 ". /guest-tools; { printf a; sleep 1; printf b; } | console_until ttyS1 b >/dev/null"
    board_stop
    [ "$(cat "$board_log")" = ab ] || fail "the board received '$(cat "$board_log")', not 'ab'"
}

case_uart_last_record_without_line_end() {
    board_start uart --no-start-expected
    guest 30 "vantoir -P ttyS1 -L -F noend.hex"
    board_stop
    expect_rc 0
    expect_out "File uploaded OK"
    grep -qa $'^:00000001FF\r$' "$board_log" || fail "the end record did not arrive as a line of its own"
    expect_board 0
}

case_usb_download_with_flash() {
    board_start usb --expect-flash
    guest 30 "vantoir -P ttyUSB0 -W -F small.hex"
    board_stop
    expect_rc 0
    expect_out "Programming flash memory..."
    expect_out "Start command sent to DSP"
    expect_board 0
}

# The FTDI driver divides by fractions: a rate the 8250 only approximates runs.
case_usb_rate_left_to_the_adapter() {
    download usb ttyUSB0 -B 12345
}

# A board that answers "R" after the 3 s wait: "R" goes again and both "+"
# come back; the second must not be read as the board's count.
case_usb_late_request_reply_is_not_a_count() {
    board_start usb --late-request 3300
    guest 30 "vantoir -P ttyUSB0 -F small.hex"
    board_stop
    expect_rc 0
    expect_no_out "Mismatch"
    expect_out "File uploaded OK"
    expect_board 0
}

# The same for "C": the second count must not be read as the flash's "+".
case_usb_late_count_reply_is_not_a_flash_acknowledgement() {
    board_start usb --late-count 3300 --expect-flash
    guest 30 "vantoir -P ttyUSB0 -W -F small.hex"
    board_stop
    expect_rc 0
    expect_out "File uploaded OK"
    expect_out "Programming flash: 100%"
    expect_out "Start command sent to DSP"
    expect_board 0
}

case_usb_raw_copy_byte_exact() {
    raw_copy usb "vantoir -P ttyUSB0 -R -F raw.bin"
}

# unplug_run COMMAND: starts COMMAND in the guest, which watches the
# adapter's port node meanwhile (the moment it goes is the unplug's moment in
# the guest).
unplug_run() {
    guest_send 60 "$1" /dev/ttyUSB0
}

# unplug PATTERN: once the board has received PATTERN, pulls the adapter out;
# vantoir must end at once with the port's read or write failure (measured in
# the guest, from when the port's node went). Then waits in the guest for the
# node to be gone, plugs the adapter in again, waits until its port takes an
# open, and proves it with a complete download.
unplug() {
    wait_board_log "$1" 30 || { guest_collect; return; }
    monitor "device_del u1"
    guest_collect
    board_stop
    expect_rc 1
    case $(cat "$run/err") in
    "Error occurred: COMPort: read failed." | "Error occurred: COMPort: write failed.") ;;
    *) fail "stderr was '$(cat "$run/err")'" ;;
    esac
    if [ "$gone_ms" = - ]; then
        echo "[unplugged; vantoir ended before the port's node went]" >>"$run/$case_name.txt"
    else
        local took=$((run_ms - gone_ms))
        echo "[unplugged; vantoir ended $took ms after the port's node went]" >>"$run/$case_name.txt"
        [ $took -lt 3000 ] || fail "vantoir ended $took ms after the unplug"
    fi
    cp "$run/out" "$run/unplugged.out"
    guest 30 "port-wait /dev/ttyUSB0 gone"
    [ "$rc" = 0 ] || suite_fault "the adapter's port node stayed after the unplug (status $rc)"
    monitor "device_add usb-serial,id=u1,chardev=usbline"
    guest 30 "port-wait /dev/ttyUSB0 openable"
    [ "$rc" = 0 ] || suite_fault "the adapter's port took no open after the plug-in (status $rc)"
    download usb ttyUSB0
}

case_usb_unplug_while_polling() {
    board_start usb --silent-polls 100000
    unplug_run "vantoir -P ttyUSB0 -F small.hex"
    unplug '?'
}

case_usb_unplug_mid_upload() {
    rate=38400
    board_start usb
    unplug_run "vantoir -P ttyUSB0 -B 38400 -F huge.hex"
    wait_board_bytes 8000 30
    unplug ':20'
    # The error begins a line of its own, after the open progress line.
    [ "$(tail -c 1 "$run/unplugged.out" | od -An -c | tr -d ' ')" = '\n' ] || fail "stdout does not end its progress line: $(tail -c 50 "$run/unplugged.out" | tr "\r" "|")"
}

case_usb_unplug_during_flash_wait() {
    board_start usb --expect-flash --flash-lines 100 --flash-interval 200
    unplug_run "vantoir -P ttyUSB0 -W -F small.hex"
    unplug 'W'
}

case_usb_unplug_in_console() {
    board_start usb --no-protocol
    unplug_run ". /guest-tools; console_kept_open ttyUSB0 k"
    unplug 'k'
}

# The adapter chosen by its USB identity: QEMU's usb-serial device reports
# vendor 0403 and product 6001, as an FTDI FT232 does (manufacturer "QEMU",
# serial number "1-0000:00:02.0-1", made from its place on the bus).
case_usb_download_by_adapter_identity() {
    guest 10 "vantoir --list-ports"
    expect_out "/dev/ttyUSB0  driver=ftdi_sio usb=0403:6001"
    download usb usb:0403:6001
}

# monitor_case LINE PORT: a download with --monitor; the program the board
# starts prints at once, and all of it is shown after the console's line.
monitor_case() {
    board_start "$1" --program-lines 3 --program-interval 20
    guest 40 ". /guest-tools; monitor_until $2 'program line 3'"
    board_stop
    expect_out "Start command sent to DSP"
    [ "$(sed -n '/^Entering Console mode on the same port (Ctrl-C ends it)...$/,$p' "$run/out" | tr -d '\r')" = "$(printf 'Entering Console mode on the same port (Ctrl-C ends it)...\n\nprogram line 1\nprogram line 2\nprogram line 3')" ] ||
        fail "the console after the download did not show the program's lines from the first: $(tail -c 120 "$run/out" | tr '\r\n' '|/')"
    expect_board 0
}

case_uart_monitor_shows_the_program_from_its_first_byte() {
    monitor_case uart ttyS1
}

case_usb_monitor_shows_the_program_from_its_first_byte() {
    monitor_case usb ttyUSB0
}

# A console by the adapter's identity outlives an unplug and plug-in: it says
# the port went away, opens the adapter again wherever it comes back, and goes
# on; the key typed before the unplug and the one typed after the reconnect
# reach the board, nothing else does.
case_usb_reconnect_across_unplug_by_adapter_identity() {
    board_start usb --no-protocol --echo
    guest 30 ". /guest-tools; reconnect_console_start usb:0403:6001 k"
    [ "$rc" = 0 ] || { board_stop; fail "the console did not start (status $rc): $(cat "$run/out" "$run/err")"; return; }
    wait_board_log k 30 || { board_stop; return; }
    monitor "device_del u1"
    guest 30 ". /guest-tools; wait_for_text /tmp/reconnect-out 'went away' && port-wait /dev/ttyUSB0 gone 20"
    [ "$rc" = 0 ] || suite_fault "the console did not see the unplug, or the port's node stayed (status $rc)"
    monitor "device_add usb-serial,id=u1,chardev=usbline"
    guest 40 ". /guest-tools; reconnect_console_finish 'is back as' r"
    board_stop
    expect_out "Port usb:0403:6001 went away; waiting for it to come back (Ctrl-C ends the wait)..."
    expect_out "Port usb:0403:6001 is back as /dev/ttyUSB"
    expect_out "; Console mode goes on."
    [ "$(cat "$board_log")" = kr ] || fail "the board received '$(cat -v "$board_log")', not 'kr'"
    # The adapter serves the next cases at its usual name.
    guest 30 "port-wait /dev/ttyUSB0 openable 20"
    [ "$rc" = 0 ] || suite_fault "the adapter did not come back as ttyUSB0 (status $rc)"
}

# The changes of DTR and RTS a watcher in the guest saw (after "LINES" in the
# output), one "MS dtr=D rts=R" a line.
watched_lines() {
    sed -n '/^LINES$/,$p' "$run/out" | tail -n +2 | tr -d '\r'
}

# gap_within FROM TO LOW HIGH: the time between two lines of watched_lines
# (counted from 1) is LOW to HIGH ms.
gap_within() {
    local gap
    gap=$(watched_lines | awk -v a="$1" -v b="$2" 'NR == a { t = $1 } NR == b { print $1 - t }')
    [ -n "$gap" ] && [ "$gap" -ge "$3" ] && [ "$gap" -le "$4" ] ||
        fail "lines $1 to $2 of the watch came ${gap:-?} ms apart, not $3 to $4"
}

# --reset on the 8250's real lines: each step one change, in order, each wait
# its time; nothing changes during the session (the rate and time-out changes
# of each phase included) and the end sequence is the last change. The watcher
# sees a change when it next runs, which on a busy emulated machine can be
# late, the earlier change of a pair as well: a wait is checked to be there
# and not cut short by more than such a delay, nor much longer than asked.
case_uart_reset_sequence_seen_step_by_step() {
    board_start uart
    guest 30 ". /guest-tools; watched /dev/ttyS1 vantoir -P ttyS1 --reset dtr=0,500ms,dtr=1+rts=0,300ms,rts=1 --reset-end dtr=0 -F small.hex"
    board_stop
    expect_rc 0
    expect_out "Starting the board by the line sequence dtr=0,500ms,dtr=1+rts=0,300ms,rts=1 instead of a power cycle."
    expect_out "Start command sent to DSP"
    expect_no_out "Please cycle the power"
    expect_board 0
    local states
    states=$(watched_lines | awk '{ printf "%s %s;", $2, $3 }')
    [ "$states" = "dtr=1 rts=1;dtr=0 rts=1;dtr=1 rts=0;dtr=1 rts=1;dtr=0 rts=1;" ] ||
        fail "the lines went $states"
    gap_within 2 3 350 1100
    gap_within 3 4 150 900
}

# A plain run sets the lines as before: DTR as found, RTS held on, and nothing
# else changes while the watcher holds the port.
case_uart_no_reset_leaves_the_lines_alone() {
    board_start uart
    guest 30 ". /guest-tools; watched /dev/ttyS1 vantoir -P ttyS1 -F small.hex"
    board_stop
    expect_rc 0
    expect_out "Please cycle the power"
    expect_out "Start command sent to DSP"
    local states
    states=$(watched_lines | awk '{ printf "%s %s;", $2, $3 }')
    [ "$states" = "dtr=1 rts=1;" ] || fail "the lines went $states"
}

# acm_case SECONDS 'KELVOR-SIM OPTIONS' COMMAND: COMMAND in the guest against a
# board on the guest's USB CDC-ACM gadget (acm_board, acm_done in
# guest-tools); $rc is COMMAND's status, $acm_board_rc the board's and
# $acm_starts how many "S" it received.
acm_case() {
    guest "$1" ". /guest-tools; acm_board $2 || { kill -INT \$acm_sim; wait; exit 99; }; $3; s=\$?; acm_done; exit \$s"
    local fault
    fault=$(grep -a -m 1 '^SUITE-FAULT' "$run/out" | cut -d' ' -f2-)
    [ -z "$fault" ] || suite_fault "$fault"
    acm_board_rc=$(sed -n 's/^BOARD //p' "$run/out" | tr -d '\r')
    acm_starts=$(sed -n 's/^STARTS //p' "$run/out" | tr -d '\r')
}

# What the board saw of the lines (after "LINES"): with KIND "lines" the
# changes of DTR and RTS and the power, as "dtr=D rts=R;" and "power=P;" in
# order; with a grep pattern, the matching lines.
acm_seen() {
    sed -n '/^LINES$/,$p' "$run/out" | tail -n +2 | tr -d '\r' | grep -a -- "$1"
}

acm_states() {
    acm_seen ' \(dtr\|power\)=' | awk '{ printf "%s;", ($2 ~ /^dtr/ ? $2 " " $3 : $2) }'
}

# acm_gap FROM TO LOW HIGH: the time from the board's first line matching
# FROM to its first one matching TO (after it) is LOW to HIGH ms. Each time
# is when the driver's request reached the board.
acm_gap() {
    local gap
    gap=$(acm_seen . | awk -v a="$1" -v b="$2" '!t && $0 ~ a { t = $1; next } t && $0 ~ b { print $1 - t; exit }')
    [ -n "$gap" ] && [ "$gap" -ge "$3" ] && [ "$gap" -le "$4" ] ||
        fail "from '$1' to '$2' the board saw ${gap:-?} ms, not $3 to $4"
}

expect_acm_board() {
    [ "$acm_board_rc" = "$1" ] || fail "kelvor-sim in the guest ended with ${acm_board_rc:-none}, expected $1"
}

# A plain run on the CDC-ACM driver: the download as on the other drivers; the
# board sees the rate, and the lines only as the driver's own open and close
# (with the hang-up found at open) set them.
case_acm_download() {
    acm_case 30 "" "vantoir -P ttyACM0 -F small.hex"
    expect_rc 0
    expect_out "Please cycle the power"
    expect_out "File uploaded OK"
    expect_out "Start command sent to DSP"
    expect_acm_board 0
    acm_seen rate= | grep -q ' rate=115200$' || fail "the board never saw the rate 115200: $(acm_seen rate= | tr '\n' ';')"
    [ "$(acm_states)" = "dtr=1 rts=1;dtr=0 rts=0;" ] || fail "the lines went $(acm_states)"
}

# --reset on a board whose power follows DTR: each step one request, in
# order, each wait its time (as the board saw the requests, within a margin
# for a loaded machine); then nothing changes the lines, neither the session
# (its rate and time-out changes) nor the close.
case_acm_reset_sequence_seen_step_by_step() {
    acm_case 30 "--power-line dtr" "vantoir -P ttyACM0 --reset dtr=0,500ms,dtr=1+rts=0,300ms,rts=1 -F small.hex"
    expect_rc 0
    expect_out "Starting the board by the line sequence dtr=0,500ms,dtr=1+rts=0,300ms,rts=1 instead of a power cycle."
    expect_no_out "Please cycle the power"
    expect_out "Start command sent to DSP"
    expect_acm_board 0
    [ "$(acm_states)" = "dtr=1 rts=1;power=on;dtr=0 rts=1;power=off;dtr=1 rts=0;power=on;dtr=1 rts=1;" ] ||
        fail "the lines went $(acm_states)"
    acm_gap 'dtr=0 rts=1' 'dtr=1 rts=0' 499 900
    acm_gap 'dtr=1 rts=0' 'dtr=1 rts=1' 299 700
}

# --reset-end runs when the board's session has ended: its change is the
# last; a run without it leaves the lines at close (case above).
case_acm_reset_end_seen_and_nothing_else_at_close() {
    acm_case 30 "--power-line dtr" "vantoir -P ttyACM0 --reset rts=0 --reset-end dtr=0 -F small.hex"
    expect_rc 0
    expect_out "Start command sent to DSP"
    expect_acm_board 0
    [ "$(acm_states)" = "dtr=1 rts=1;power=on;dtr=1 rts=0;dtr=0 rts=0;power=off;" ] ||
        fail "the lines went $(acm_states)"
}

# A fixture: three boards, each started when the board's start signal (DSR)
# comes on, switched on by the line sequence and off by the end sequence; the
# signal goes off and on again after each board is done (the lid opened, the
# next board in).
case_acm_boards_started_by_the_fixture_signal() {
    acm_case 60 "--power-line dtr --start-signal dsr" \
        "vantoir -P ttyACM0 --repeat --boards 3 --start-when dsr=1 --reset dtr=0,100ms,dtr=1 --reset-end dtr=0 -F small.hex"
    expect_rc 0
    expect_no_out "Please cycle the power"
    [ "$acm_starts" = 3 ] || fail "the board received \"S\" ${acm_starts:-no} times, not 3"
    [ "$(grep -ac "Start command sent to DSP" "$run/out")" = 3 ] || fail "stdout does not say three times that the board was started"
    # Each board switched on by the sequence once the signal is on, off by the
    # end sequence, then the signal off and on. After the third board the
    # signal may go on toggling until the board ends.
    local events
    events=$(acm_seen ' \(dsr\|power\)=' | awk 'NR <= 12 { printf "%s;", $2 }')
    [ "$events" = "power=on;power=off;power=on;power=off;dsr=0;dsr=1;power=on;power=off;dsr=0;dsr=1;power=on;power=off;" ] ||
        fail "the board's power and start signal went $events"
    [ "$(acm_seen ' dsr=' | awk 'NR <= 4 { printf "%s;", $2 }')" = "dsr=0;dsr=1;dsr=0;dsr=1;" ] ||
        fail "the start signal went $(acm_seen ' dsr=' | awk '{ printf "%s;", $2 }')"
}

# --power-command switches on a board that starts switched off (SIGUSR2 to
# kelvor-sim), with the port in its environment.
case_acm_power_command_switches_the_board_on() {
    acm_case 30 "--off" \
        "vantoir -P ttyACM0 --power-command 'echo \"\$VANTOIR_PORT \$VANTOIR_DEVICE \$VANTOIR_BOARD\" >/tmp/power-env; kill -USR2 \$(cat /tmp/acm-pid)' -F small.hex; s=\$?; cat /tmp/power-env; (exit \$s)"
    expect_rc 0
    expect_no_out "Please cycle the power"
    expect_out "Start command sent to DSP"
    expect_out "ttyACM0 /dev/ttyACM0 1"
    expect_acm_board 0
}

# The gadget unbound mid-upload, as an adapter pulled out: vantoir ends at
# once with the port's read or write failure, as on ftdi_sio.
case_acm_unplug_mid_upload() {
    acm_case 60 "--baud 38400" \
        "acm_unplug_after 8000; vantoir -P ttyACM0 -F huge.hex; s=\$?; cut -d' ' -f1 /proc/uptime >/tmp/vantoir-ended;
        echo \"UNPLUG-TOOK \$(awk -v a=\$(cat /tmp/acm-unplugged) -v b=\$(cat /tmp/vantoir-ended) 'BEGIN { print int((b - a) * 1000) }')\"; (exit \$s)"
    expect_rc 1
    case $(cat "$run/err") in
    "Error occurred: COMPort: read failed." | "Error occurred: COMPort: write failed.") ;;
    *) fail "stderr was '$(cat "$run/err")'" ;;
    esac
    local took
    took=$(sed -n 's/^UNPLUG-TOOK //p' "$run/out" | tr -d '\r')
    echo "[unplugged; vantoir ended ${took:-?} ms after the gadget was unbound]" >>"$run/$case_name.txt"
    [ -n "$took" ] && [ "$took" -lt 3000 ] || fail "vantoir ended ${took:-?} ms after the unplug"
}

# A break on the CDC-ACM driver reaches the board as SEND_BREAK: "until
# ended" (65535) when it begins, 0 when it ends, the time held between.
case_acm_break_seen_with_its_time() {
    acm_case 30 "" "send-break /dev/ttyACM0 300"
    expect_rc 0
    [ "$(acm_seen ' break=' | awk '{ printf "%s;", $2 }')" = "break=65535;break=0;" ] ||
        fail "the board saw $(acm_seen ' break=' | awk '{ printf "%s;", $2 }')"
    acm_gap 'break=65535' 'break=0' 299 700
}

# kelvor-sim --usb-acm prints its port's name as vantoir takes it: the
# gadget's USB identity, found through the CDC-ACM driver's port.
case_acm_download_by_the_port_name_the_board_printed() {
    acm_case 30 "" "vantoir -P \$(cat /tmp/acm-out) -F small.hex"
    expect_rc 0
    expect_out "Parsed command line: -P usb:1d6b:0104 -F small.hex"
    expect_out "File uploaded OK"
    expect_acm_board 0
}

# A console by the gadget's identity outlives its unplug and plug-in (the
# gadget unbound and bound again, as a board with a USB interface resetting):
# it says the port went away, opens it again with its rate when the driver has
# made it anew, and goes on; the key typed before the unplug and the one typed
# after the reconnect reach the board, nothing else does. (The echo board
# ends with status 1: it never gets a start command.)
case_acm_reconnect_across_unplug_by_adapter_identity() {
    acm_case 60 "--no-protocol --echo" \
        "reconnect_console_start usb:1d6b:0104 k &&
        until grep -q k /tmp/acm-bytes 2>/dev/null; do usleep 10000; done &&
        echo >/sys/kernel/config/usb_gadget/kelvor/UDC &&
        wait_for_text /tmp/reconnect-out 'went away' 30 &&
        { port-wait /dev/ttyACM0 gone 20 || echo 'SUITE-FAULT the port stayed after the unbind'; } &&
        echo dummy_udc.0 >/sys/kernel/config/usb_gadget/kelvor/UDC &&
        reconnect_console_finish 'is back as' r && echo && echo \"BYTES \$(cat /tmp/acm-bytes)\""
    expect_rc 0
    expect_out "Port usb:1d6b:0104 went away; waiting for it to come back (Ctrl-C ends the wait)..."
    expect_out "Port usb:1d6b:0104 is back as /dev/ttyACM"
    expect_out "; Console mode goes on."
    [ "$(sed -n 's/^BYTES //p' "$run/out" | tr -d '\r')" = kr ] ||
        fail "the board received '$(sed -n 's/^BYTES //p' "$run/out" | cat -v)', not 'kr'"
    # The port made anew starts at 9600; the console set its rate again.
    acm_seen rate= | tail -n 1 | grep -q ' rate=115200$' ||
        fail "the board's last rate was not 115200: $(acm_seen rate= | tr '\n' ';')"
}
