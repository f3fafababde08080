# A 2048-byte El Torito no-emulation boot image for tests. The BIOS loads it at
# 0000:7C00 and jumps to it; it writes one line to the first serial port and then
# leaves QEMU through the isa-debug-exit device (iobase 0xf4), so a test can boot an
# image and check that the line appears.
        .code16
        .section .text
        .globl _start
_start:
        cli
        xorw    %ax, %ax
        movw    %ax, %ds
        movw    %ax, %ss
        movw    $0x7c00, %sp
        ljmp    $0, $start_here         # normalise CS:IP whatever segment was used
start_here:
        cld

        # COM1: 115200 baud, 8 data bits, no parity, one stop bit.
        movw    $0x3f9, %dx
        xorb    %al, %al
        outb    %al, %dx                # no interrupts
        movw    $0x3fb, %dx
        movb    $0x80, %al
        outb    %al, %dx                # divisor latch on
        movw    $0x3f8, %dx
        movb    $0x01, %al
        outb    %al, %dx
        movw    $0x3f9, %dx
        xorb    %al, %al
        outb    %al, %dx
        movw    $0x3fb, %dx
        movb    $0x03, %al
        outb    %al, %dx                # divisor latch off, 8N1

        movw    $message, %si
next_char:
        lodsb
        testb   %al, %al
        jz      leave_qemu
        movb    %al, %bl
        movw    $0x3fd, %dx
wait_ready:
        inb     %dx, %al
        testb   $0x20, %al              # transmitter holding register empty
        jz      wait_ready
        movw    $0x3f8, %dx
        movb    %bl, %al
        outb    %al, %dx
        jmp     next_char

leave_qemu:
        movw    $0xf4, %dx
        movb    $0x10, %al              # QEMU exits with status (0x10 << 1) | 1 = 33
        outb    %al, %dx
halt:
        hlt
        jmp     halt

message:
        .asciz  "WINPE-ISO BOOT OK\r\n"

        .org    2048
