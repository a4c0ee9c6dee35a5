// SPDX-License-Identifier: GPL-2.0-or-later
/* Control of the fault shim from a test that links it: arm one call of a kind to fail and see how
   many calls of each kind were made since, or refuse unnamed files. Kinds: write, pwrite (pwritev
   too), fsync, rename, linkat, close. */
#pragma once
#ifdef __cplusplus
extern "C" {
#endif

/* The nth (from 1) call of that kind fails with err (0: the previous or default error, EIO);
   counts start again from 0. */
void faultshim_arm(const char* kind, int nth, int err);
void faultshim_disarm(void);
/* Non-zero: opening an unnamed file (O_TMPFILE) fails as on a file system without them. */
void faultshim_refuse_unnamed(int refuse);
int faultshim_calls(const char* kind);

#ifdef __cplusplus
}
#endif
