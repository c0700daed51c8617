# The cases of scripts/test-hardware, run in this order (the USB unplug cases
# each plug the adapter in again for the next).

cases=(
    uart_download
)

case_uart_download() {
    board_start uart
    guest 30 "vantoir -P ttyS1 -F small.hex"
    board_stop
    expect_rc 0
    expect_out "File uploaded OK"
    expect_out "Start command sent to DSP"
    expect_board 0
}
