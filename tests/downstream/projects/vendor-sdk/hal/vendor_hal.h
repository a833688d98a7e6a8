#ifndef VENDOR_HAL_H
#define VENDOR_HAL_H
void vendor_led_set(unsigned led, int on);
#endif
