/*
 * duktape_build.c: the script engine of the page host.
 *
 * Duktape's single-file source is compiled here, as C, under the
 * configuration generated next to it in the build tree (see CMakeLists.txt:
 * the execution-timeout hook is on). The engine reports errors with
 * longjmp, so the C++ side never lets an engine call unwind through a frame
 * that owns resources.
 *
 * Besides the engine, this file holds the two lookups of duk_internals.h,
 * which must see the engine's internal structures and so live in the same
 * translation unit. They read the call stack only; they never change what
 * the engine computes.
 */
#include "duktape.c"

#include "host/asp/duk_internals.h"

int quill_duk_read_is_for_call(duk_context *ctx) {
	duk_hthread *thr = (duk_hthread *) ctx;
	duk_activation *act;
	duk_hobject *func;
	duk_instr_t *pc;
	duk_small_uint_t op;

	if (thr == NULL || thr->callstack_curr == NULL) {
		return 0;
	}
	/* The running activation is the trap; its parent did the read. */
	act = thr->callstack_curr->parent;
	if (act == NULL) {
		return 0;
	}
	func = DUK_ACT_GET_FUNC(act);
	if (func == NULL || !DUK_HOBJECT_IS_COMPFUNC(func)) {
		return 0; /* read by native code (Reflect.get and the like) */
	}
	/* The executor writes its program counter back to the activation before
	 * any call it makes, and it points past the instruction being run. */
	pc = act->curr_pc;
	if (pc == NULL || pc <= DUK_HCOMPFUNC_GET_CODE_BASE(thr->heap, (duk_hcompfunc *) func)) {
		return 0;
	}
	op = (duk_small_uint_t) DUK_DEC_OP(pc[-1]);
	return op >= DUK_OP_GETPROPC_RR && op <= DUK_OP_GETPROPC_CC;
}

void quill_duk_interrupt_now(duk_context *ctx) {
	duk_hthread *thr = (duk_hthread *) ctx;
	if (thr == NULL) {
		return;
	}
	/* The same adjustment the engine makes when it forces an interrupt. */
	thr->interrupt_init -= thr->interrupt_counter;
	thr->interrupt_counter = 0;
}
