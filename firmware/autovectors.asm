; The USB and FIFO/GPIF autovector table and the command buffer.
;
; The chip jumps through 0x43 (USB) or 0x53 (FIFO/GPIF) into this table with
; the source's offset substituted into the low address byte, so the table must
; start on a page boundary: 32 USB entries from 0x3F00, then 14 FIFO/GPIF
; entries from 0x3F80, four bytes each (long jump, one pad byte).

	.module autovectors

	.globl _usb_autovector
	.globl _fifo_autovector
	.globl _command_buffer
	.globl _isr_sudav
	.globl _isr_sutok
	.globl _isr_suspend
	.globl _isr_usb_reset
	.globl _isr_high_speed
	.globl _isr_unused

	.area AUTOVEC (ABS,CODE)
	.org 0x3F00
_usb_autovector:
	ljmp _isr_sudav         ; setup data available
	.db 0
	ljmp _isr_unused        ; start of frame
	.db 0
	ljmp _isr_sutok         ; setup token
	.db 0
	ljmp _isr_suspend       ; suspend
	.db 0
	ljmp _isr_usb_reset     ; bus reset
	.db 0
	ljmp _isr_high_speed    ; high-speed grant
	.db 0
	ljmp _isr_unused        ; EP0 ack
	.db 0
	ljmp _isr_unused        ; reserved
	.db 0
	ljmp _isr_unused        ; EP0 IN
	.db 0
	ljmp _isr_unused        ; EP0 OUT
	.db 0
	ljmp _isr_unused        ; EP1 IN
	.db 0
	ljmp _isr_unused        ; EP1 OUT
	.db 0
	ljmp _isr_unused        ; EP2
	.db 0
	ljmp _isr_unused        ; EP4
	.db 0
	ljmp _isr_unused        ; EP6
	.db 0
	ljmp _isr_unused        ; EP8
	.db 0
	ljmp _isr_unused        ; IN-bulk-NAK
	.db 0
	ljmp _isr_unused        ; reserved
	.db 0
	ljmp _isr_unused        ; EP0 ping
	.db 0
	ljmp _isr_unused        ; EP1 ping
	.db 0
	ljmp _isr_unused        ; EP2 ping
	.db 0
	ljmp _isr_unused        ; EP4 ping
	.db 0
	ljmp _isr_unused        ; EP6 ping
	.db 0
	ljmp _isr_unused        ; EP8 ping
	.db 0
	ljmp _isr_unused        ; error limit
	.db 0
	ljmp _isr_unused        ; reserved
	.db 0
	ljmp _isr_unused        ; reserved
	.db 0
	ljmp _isr_unused        ; reserved
	.db 0
	ljmp _isr_unused        ; EP2 ISO error
	.db 0
	ljmp _isr_unused        ; EP4 ISO error
	.db 0
	ljmp _isr_unused        ; EP6 ISO error
	.db 0
	ljmp _isr_unused        ; EP8 ISO error
	.db 0
_fifo_autovector:
	ljmp _isr_unused        ; EP2 programmable flag
	.db 0
	ljmp _isr_unused        ; EP4 programmable flag
	.db 0
	ljmp _isr_unused        ; EP6 programmable flag
	.db 0
	ljmp _isr_unused        ; EP8 programmable flag
	.db 0
	ljmp _isr_unused        ; EP2 empty flag
	.db 0
	ljmp _isr_unused        ; EP4 empty flag
	.db 0
	ljmp _isr_unused        ; EP6 empty flag
	.db 0
	ljmp _isr_unused        ; EP8 empty flag
	.db 0
	ljmp _isr_unused        ; EP2 full flag
	.db 0
	ljmp _isr_unused        ; EP4 full flag
	.db 0
	ljmp _isr_unused        ; EP6 full flag
	.db 0
	ljmp _isr_unused        ; EP8 full flag
	.db 0
	ljmp _isr_unused        ; GPIF done
	.db 0
	ljmp _isr_unused        ; GPIF waveform
	.db 0

; The transaction and its results live here, up to the table: code and data
; share the one RAM, so the code must end below 0x1078.
	.area CMDBUF (ABS,XDATA)
	.org 0x1078
_command_buffer:
	.ds 0x3F00 - 0x1078
