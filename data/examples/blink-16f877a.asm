; blink-16f877a.asm - blinks an LED on RB0 of a PIC16F877A; the blink speed comes from EEPROM.
;
; Hardware: PIC16F877A in the 40-pin socket or on a board, 5 V supply, a 4 MHz crystal on
; OSC1/OSC2 (pins 13 and 14) with two 22 pF capacitors, a 10 kohm pull-up from MCLR (pin 1)
; to VDD, and an LED with a 330 ohm resistor from RB0 (pin 33) to VSS.
;
; EEPROM byte 0 sets the blink speed: each count is about 0.2 s of on time and as much off
; time. The HEX file stores 3 there (0.6 s). An erased EEPROM (FF) falls back to 3 as well.
;
; The HEX file beside this source was assembled by hand; each line below shows the word
; it produced. It also assembles with gpasm:  gpasm blink-16f877a.asm
;
; Configuration word 0x3F71 (0x2007):
;   CP off, DEBUG off, WRT off, CPD off, LVP off (RB3 stays an I/O pin and high-voltage
;   programming is used), BOREN on, PWRTE on (bit 3 low), WDTE off, FOSC = 01 (XT crystal).
; Bits 12, 5 and 4 are not implemented: the chip reads them back as 0, so a read-back of
; this chip shows 0x2F41.
; User ID: 1, 0, 0, 0 (locations 0x2000 to 0x2003).

        processor 16f877a
        radix   hex

STATUS  equ     0x03            ; all banks
PORTB   equ     0x06            ; bank 0
TRISB   equ     0x86            ; bank 1
EEDATA  equ     0x10C           ; bank 2
EEADR   equ     0x10D           ; bank 2
EECON1  equ     0x18C           ; bank 3
RP0     equ     5               ; STATUS bits: RP1:RP0 select the bank
RP1     equ     6
Z       equ     2
EEPGD   equ     7               ; EECON1 bits
RD      equ     0
count1  equ     0x20            ; delay counters in general purpose RAM, bank 0
count2  equ     0x21
count3  equ     0x22
speed   equ     0x23

        __config 0x3F71
        __idlocs 0x1000         ; user ID nibbles 1, 0, 0, 0

        org     0x000
; The interrupt vector (0x004) is never used: interrupts stay disabled after reset.
start:
        clrf    PORTB           ; 000  0186  output latch low before RB0 becomes an output
        bsf     STATUS, RP0     ; 001  1683  bank 1
        bcf     TRISB & 0x7F, 0 ; 002  1006  RB0 is an output
        bsf     STATUS, RP1     ; 003  1703  bank 3
        bcf     STATUS, RP0     ; 004  1283  bank 2
        clrf    EEADR & 0x7F    ; 005  018D  EEPROM address 0
        bsf     STATUS, RP0     ; 006  1683  bank 3
        bcf     EECON1 & 0x7F, EEPGD ; 007  138C  data EEPROM, not program memory
        bsf     EECON1 & 0x7F, RD    ; 008  140C  read; EEDATA is valid in the next cycle
        bcf     STATUS, RP0     ; 009  1283  bank 2
        movf    EEDATA & 0x7F, w ; 00A 080C
        bcf     STATUS, RP1     ; 00B  1303  bank 0
        movwf   speed           ; 00C  00A3
        incf    speed, w        ; 00D  0A23  Z is set when the byte was FF
        movlw   .3              ; 00E  3003  (MOVLW leaves Z alone)
        btfsc   STATUS, Z       ; 00F  1903
        movwf   speed           ; 010  00A3  erased EEPROM: use 3
loop:
        movlw   0x01            ; 011  3001
        xorwf   PORTB, f        ; 012  0686  toggle RB0
        call    delay           ; 013  2015
        goto    loop            ; 014  2811

; speed x about 197 000 instruction cycles, 0.2 s per count at 4 MHz (1 us per cycle):
; the inner loop runs 256 x 3 cycles, the middle one 256 times, the outer one speed times.
delay:
        movf    speed, w        ; 015  0823
        movwf   count3          ; 016  00A2
d3:     clrf    count2          ; 017  01A1  0 counts as 256
d2:     clrf    count1          ; 018  01A0
d1:     decfsz  count1, f       ; 019  0BA0
        goto    d1              ; 01A  2819
        decfsz  count2, f       ; 01B  0BA1
        goto    d2              ; 01C  2818
        decfsz  count3, f       ; 01D  0BA2
        goto    d3              ; 01E  2817
        return                  ; 01F  0008

        org     0x2100
        de      .3              ; EEPROM byte 0: blink speed

        end
