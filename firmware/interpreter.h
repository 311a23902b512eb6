/*
 * The command stream interpreter: one pass over a stored transaction,
 * escape codes in, bus bytes to the byte engine, results appended behind the
 * stream.
 */
#ifndef BRANTLE_FW_INTERPRETER_H
#define BRANTLE_FW_INTERPRETER_H

#include "hw.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Interprets the len bytes at stream; results, the status byte last, are
   written from stream + len on, at most room of them. Returns how many
   result bytes the stream produced (status byte included). */
uint16_t interpret(HW_XDATA uint8_t *stream, uint16_t len, uint16_t room);

#ifdef __cplusplus
}
#endif

#endif
