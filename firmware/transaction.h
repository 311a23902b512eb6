/*
 * One transaction on EP4 OUT / EP8 IN: the count header, the stream stored in
 * the command buffer, its interpretation and the reply.
 */
#ifndef BRANTLE_FW_TRANSACTION_H
#define BRANTLE_FW_TRANSACTION_H

#include "hw.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Runs the transaction whose first packet waits in EP4; returns when the
   reply has been handed to EP8. */
void transaction_run(void);

#ifdef __cplusplus
}
#endif

#endif
