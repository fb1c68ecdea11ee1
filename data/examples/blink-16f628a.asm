; blink-16f628a.asm - blinks an LED on RB0 of a PIC16F628A, about 0.6 s on, 0.6 s off.
;
; Hardware: PIC16F628A in the 18-pin socket or on a board, 5 V supply, an LED with a
; 330 ohm resistor from RB0 (pin 6) to VSS. Nothing else: the chip runs on its internal
; 4 MHz oscillator and MCLR is switched off, so pin 4 needs no pull-up.
;
; The HEX file beside this source was assembled by hand; each line below shows the word
; it produced. It also assembles with gpasm:  gpasm blink-16f628a.asm
;
; Configuration word 0x3F50 (0x2007):
;   CP off, CPD off, LVP off (RB4 stays an I/O pin and high-voltage programming is used),
;   BOREN on, MCLRE off (RA5 is an input), FOSC = 100 (internal oscillator, RA6/RA7 I/O),
;   PWRTE on (bit 3 low), WDTE off.
; Bits 12 to 9 are not implemented: the chip reads them back as 0, so a read-back of this
; chip shows 0x2150.
; User ID: 1, 0, 0, 0 (locations 0x2000 to 0x2003).

        processor 16f628a
        radix   hex

STATUS  equ     0x03            ; bank 0 and 1
PORTB   equ     0x06            ; bank 0
TRISB   equ     0x86            ; bank 1
CMCON   equ     0x1F            ; bank 0
RP0     equ     5               ; STATUS bit: 1 selects bank 1
count1  equ     0x20            ; delay counters in general purpose RAM
count2  equ     0x21
count3  equ     0x22

        __config 0x3F50
        __idlocs 0x1000         ; user ID nibbles 1, 0, 0, 0

        org     0x000
; The interrupt vector (0x004) is never used: interrupts stay disabled after reset.
start:
        clrf    PORTB           ; 000  0186  output latch low before RB0 becomes an output
        movlw   0x07            ; 001  3007
        movwf   CMCON           ; 002  009F  comparators off: PORTA is digital I/O
        bsf     STATUS, RP0     ; 003  1683  bank 1
        bcf     TRISB & 0x7F, 0 ; 004  1006  RB0 is an output
        bcf     STATUS, RP0     ; 005  1283  back to bank 0
loop:
        movlw   0x01            ; 006  3001
        xorwf   PORTB, f        ; 007  0686  toggle RB0
        call    delay           ; 008  200A
        goto    loop            ; 009  2806

; About 592 000 instruction cycles, 0.59 s at 4 MHz (1 us per cycle):
; the inner loop runs 256 x 3 cycles, the middle one 256 times, the outer one 3 times.
delay:
        movlw   .3              ; 00A  3003
        movwf   count3          ; 00B  00A2
d3:     clrf    count2          ; 00C  01A1  0 counts as 256
d2:     clrf    count1          ; 00D  01A0
d1:     decfsz  count1, f       ; 00E  0BA0
        goto    d1              ; 00F  280E
        decfsz  count2, f       ; 010  0BA1
        goto    d2              ; 011  280D
        decfsz  count3, f       ; 012  0BA2
        goto    d3              ; 013  280C
        return                  ; 014  0008

        end
