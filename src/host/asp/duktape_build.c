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

/* --- Heap baseline ------------------------------------------------------------
 *
 * A page may change anything it can reach: the global object, the built-in
 * objects and their functions. A heap that ran a page is given to the next
 * page only when everything reachable from the global object, apart from
 * the global object's own properties that the page added, is byte for byte
 * what it was when the heap was new. The baseline is that state: for every
 * such object its prototype, flags, array length and property storage; for
 * the global object its properties by key. The objects are kept alive from
 * the heap stash, so a page that unlinks one cannot make a record dangle.
 */

typedef struct {
	duk_hobject *obj;
	duk_hobject *proto;
	duk_uint32_t flags;
	duk_uint32_t e_size, e_next, a_size, h_size;
	duk_uint32_t array_length;
	duk_bool_t array_length_nonwritable;
	size_t offset; /* into quill_duk_baseline.bytes */
	size_t size;
} quill__object_record;

typedef struct {
	duk_hstring *key;
	duk_uint8_t flags;
	duk_propvalue value;
} quill__global_record;

struct quill_duk_baseline {
	quill__object_record *objects; /* [0] is the global object */
	size_t object_count;
	duk_uint8_t *bytes;
	size_t byte_count;
	quill__global_record *globals; /* sorted by key */
	size_t global_count;
};

/* The collector's own bits change on every pass; only the object's own flags count. */
#define QUILL__FLAG_MASK (~(((duk_uint32_t) 0x1f) << DUK_HEAPHDR_FLAGS_HEAP_START))

typedef struct {
	duk_hobject **slots;
	size_t capacity; /* a power of two */
	size_t count;
} quill__object_set;

static size_t quill__hash_ptr(const void *p, size_t capacity) {
	duk_uintptr_t v = (duk_uintptr_t) p;
	v ^= v >> 17;
	v *= (duk_uintptr_t) 0x9E3779B97F4A7C15ULL;
	return (size_t) (v >> 7) & (capacity - 1);
}

/* Adds `h`; answers 1 when it was new, 0 when known, -1 when memory ran out. */
static int quill__set_add(quill__object_set *set, duk_hobject *h) {
	size_t i;
	if ((set->count + 1) * 2 > set->capacity) {
		size_t k;
		size_t capacity = set->capacity == 0 ? 1024 : set->capacity * 2;
		duk_hobject **slots = (duk_hobject **) calloc(capacity, sizeof(duk_hobject *));
		if (slots == NULL) {
			return -1;
		}
		for (k = 0; k < set->capacity; k++) {
			if (set->slots[k] != NULL) {
				i = quill__hash_ptr(set->slots[k], capacity);
				while (slots[i] != NULL) {
					i = (i + 1) & (capacity - 1);
				}
				slots[i] = set->slots[k];
			}
		}
		free(set->slots);
		set->slots = slots;
		set->capacity = capacity;
	}
	i = quill__hash_ptr(h, set->capacity);
	while (set->slots[i] != NULL) {
		if (set->slots[i] == h) {
			return 0;
		}
		i = (i + 1) & (set->capacity - 1);
	}
	set->slots[i] = h;
	set->count++;
	return 1;
}

typedef struct {
	quill__object_set seen;
	duk_hobject **order; /* breadth first, [0] the global object */
	size_t count;
	size_t capacity;
} quill__walk;

static int quill__walk_add(quill__walk *w, duk_hobject *h) {
	int rc;
	if (h == NULL) {
		return 0;
	}
	rc = quill__set_add(&w->seen, h);
	if (rc <= 0) {
		return rc;
	}
	if (w->count == w->capacity) {
		size_t capacity = w->capacity == 0 ? 512 : w->capacity * 2;
		duk_hobject **order = (duk_hobject **) realloc(w->order, capacity * sizeof(duk_hobject *));
		if (order == NULL) {
			return -1;
		}
		w->order = order;
		w->capacity = capacity;
	}
	w->order[w->count++] = h;
	return 0;
}

static int quill__walk_tval(quill__walk *w, duk_tval *tv) {
	return DUK_TVAL_IS_OBJECT(tv) ? quill__walk_add(w, DUK_TVAL_GET_OBJECT(tv)) : 0;
}

/* Every object reachable from the global object through properties (data,
 * accessors, array parts, internal ones) and prototypes, except through the
 * global stash: it is the host's own, out of script's reach, and the host
 * changes what it holds between pages. */
static int quill__walk_from_global(duk_hthread *thr, quill__walk *w) {
	duk_heap *heap = thr->heap;
	size_t next;
	duk_hobject *stash;
	duk_push_global_stash((duk_context *) thr);
	stash = duk_get_hobject(thr, -1);
	duk_pop((duk_context *) thr);
	if ((stash != NULL && quill__set_add(&w->seen, stash) < 0) ||
	    quill__walk_add(w, thr->builtins[DUK_BIDX_GLOBAL]) < 0) {
		return -1;
	}
	for (next = 0; next < w->count; next++) {
		duk_hobject *h = w->order[next];
		duk_uint_fast32_t i;
		if (quill__walk_add(w, DUK_HOBJECT_GET_PROTOTYPE(heap, h)) < 0) {
			return -1;
		}
		for (i = 0; i < DUK_HOBJECT_GET_ENEXT(h); i++) {
			if (DUK_HOBJECT_E_GET_KEY(heap, h, i) == NULL) {
				continue;
			}
			if (DUK_HOBJECT_E_GET_FLAGS(heap, h, i) & DUK_PROPDESC_FLAG_ACCESSOR) {
				if (quill__walk_add(w, DUK_HOBJECT_E_GET_VALUE_GETTER(heap, h, i)) < 0 ||
				    quill__walk_add(w, DUK_HOBJECT_E_GET_VALUE_SETTER(heap, h, i)) < 0) {
					return -1;
				}
			} else if (quill__walk_tval(w, DUK_HOBJECT_E_GET_VALUE_TVAL_PTR(heap, h, i)) < 0) {
				return -1;
			}
		}
		for (i = 0; i < DUK_HOBJECT_GET_ASIZE(h); i++) {
			if (quill__walk_tval(w, DUK_HOBJECT_A_GET_VALUE_PTR(heap, h, i)) < 0) {
				return -1;
			}
		}
	}
	return 0;
}

static void quill__record(duk_heap *heap, duk_hobject *h, quill__object_record *r) {
	r->obj = h;
	r->proto = DUK_HOBJECT_GET_PROTOTYPE(heap, h);
	r->flags = DUK_HEAPHDR_GET_FLAGS_RAW((duk_heaphdr *) h) & QUILL__FLAG_MASK;
	r->e_size = DUK_HOBJECT_GET_ESIZE(h);
	r->e_next = DUK_HOBJECT_GET_ENEXT(h);
	r->a_size = DUK_HOBJECT_GET_ASIZE(h);
	r->h_size = DUK_HOBJECT_GET_HSIZE(h);
	r->array_length = 0;
	r->array_length_nonwritable = 0;
	if (DUK_HOBJECT_IS_ARRAY(h)) {
		r->array_length = ((duk_harray *) h)->length;
		r->array_length_nonwritable = ((duk_harray *) h)->length_nonwritable;
	}
	r->size = DUK_HOBJECT_P_ALLOC_SIZE(h);
}

static int quill__same(duk_heap *heap, const quill_duk_baseline *b, const quill__object_record *r) {
	quill__object_record now;
	const duk_uint8_t *props;
	quill__record(heap, r->obj, &now);
	if (now.proto != r->proto || now.flags != r->flags || now.e_size != r->e_size || now.e_next != r->e_next ||
	    now.a_size != r->a_size || now.h_size != r->h_size || now.array_length != r->array_length ||
	    now.array_length_nonwritable != r->array_length_nonwritable || now.size != r->size) {
		return 0;
	}
	props = DUK_HOBJECT_GET_PROPS(heap, r->obj);
	return r->size == 0 || memcmp(props, b->bytes + r->offset, r->size) == 0;
}

static int quill__compare_keys(const void *a, const void *b) {
	duk_uintptr_t x = (duk_uintptr_t) ((const quill__global_record *) a)->key;
	duk_uintptr_t y = (duk_uintptr_t) ((const quill__global_record *) b)->key;
	return x < y ? -1 : x > y ? 1 : 0;
}

void quill_duk_baseline_free(quill_duk_baseline *b) {
	if (b == NULL) {
		return;
	}
	free(b->objects);
	free(b->bytes);
	free(b->globals);
	free(b);
}

static const char quill__keep_key[] = "\xFF" "quillBaseline";

static duk_ret_t quill__keep_alive(duk_context *ctx, void *udata) {
	const quill_duk_baseline *b = (const quill_duk_baseline *) udata;
	size_t k;
	duk_push_heap_stash(ctx);
	duk_push_array(ctx);
	for (k = 0; k < b->object_count; k++) {
		duk_push_heapptr(ctx, b->objects[k].obj);
		duk_put_prop_index(ctx, -2, (duk_uarridx_t) k);
	}
	duk_put_prop_string(ctx, -2, quill__keep_key);
	duk_pop(ctx);
	return 0;
}

quill_duk_baseline *quill_duk_baseline_take(duk_context *ctx) {
	duk_hthread *thr = (duk_hthread *) ctx;
	duk_heap *heap = thr->heap;
	duk_hobject *global = thr->builtins[DUK_BIDX_GLOBAL];
	quill__walk w;
	quill_duk_baseline *b;
	size_t k, bytes = 0;
	duk_uint_fast32_t i;

	memset(&w, 0, sizeof(w));
	b = (quill_duk_baseline *) calloc(1, sizeof(*b));
	if (b == NULL || quill__walk_from_global(thr, &w) != 0) {
		goto fail;
	}
	b->objects = (quill__object_record *) calloc(w.count, sizeof(quill__object_record));
	if (b->objects == NULL) {
		goto fail;
	}
	b->object_count = w.count;
	for (k = 0; k < w.count; k++) {
		quill__record(heap, w.order[k], &b->objects[k]);
		b->objects[k].offset = bytes;
		bytes += b->objects[k].size;
	}
	b->bytes = (duk_uint8_t *) malloc(bytes > 0 ? bytes : 1);
	if (b->bytes == NULL) {
		goto fail;
	}
	b->byte_count = bytes;
	for (k = 0; k < w.count; k++) {
		if (b->objects[k].size > 0) {
			memcpy(b->bytes + b->objects[k].offset, DUK_HOBJECT_GET_PROPS(heap, w.order[k]), b->objects[k].size);
		}
	}
	b->globals = (quill__global_record *) calloc(DUK_HOBJECT_GET_ENEXT(global) + 1, sizeof(quill__global_record));
	if (b->globals == NULL) {
		goto fail;
	}
	for (i = 0; i < DUK_HOBJECT_GET_ENEXT(global); i++) {
		duk_hstring *key = DUK_HOBJECT_E_GET_KEY(heap, global, i);
		if (key == NULL) {
			continue;
		}
		b->globals[b->global_count].key = key;
		b->globals[b->global_count].flags = DUK_HOBJECT_E_GET_FLAGS(heap, global, i);
		b->globals[b->global_count].value = DUK_HOBJECT_E_GET_VALUE(heap, global, i);
		b->global_count++;
	}
	qsort(b->globals, b->global_count, sizeof(quill__global_record), quill__compare_keys);
	free(w.seen.slots);
	free(w.order);
	if (duk_safe_call(ctx, quill__keep_alive, b, 0, 1) != DUK_EXEC_SUCCESS) {
		duk_pop(ctx);
		quill_duk_baseline_free(b);
		return NULL;
	}
	duk_pop(ctx);
	return b;

fail:
	free(w.seen.slots);
	free(w.order);
	quill_duk_baseline_free(b);
	return NULL;
}

/* Checks the global object's properties against the baseline and pushes the
 * keys the page added (onto the value stack, which keeps them alive).
 * Answers the number pushed, or -1 when a baseline property was changed or
 * removed. */
static duk_int_t quill__added_globals(duk_hthread *thr, const quill_duk_baseline *b) {
	duk_heap *heap = thr->heap;
	duk_hobject *global = thr->builtins[DUK_BIDX_GLOBAL];
	const quill__object_record *r = &b->objects[0];
	duk_uint_fast32_t i;
	duk_int_t added = 0;
	size_t kept = 0;

	if (DUK_HOBJECT_GET_PROTOTYPE(heap, global) != r->proto ||
	    (DUK_HEAPHDR_GET_FLAGS_RAW((duk_heaphdr *) global) & QUILL__FLAG_MASK) != r->flags ||
	    DUK_HOBJECT_GET_ASIZE(global) != 0 || r->a_size != 0) {
		return -1;
	}
	for (i = 0; i < DUK_HOBJECT_GET_ENEXT(global); i++) {
		quill__global_record probe;
		const quill__global_record *was;
		duk_propvalue now;
		probe.key = DUK_HOBJECT_E_GET_KEY(heap, global, i);
		if (probe.key == NULL) {
			continue;
		}
		was = (const quill__global_record *) bsearch(&probe, b->globals, b->global_count,
		                                             sizeof(quill__global_record), quill__compare_keys);
		if (was == NULL) {
			duk_require_stack((duk_context *) thr, 1);
			duk_push_hstring(thr, probe.key);
			added++;
			continue;
		}
		now = DUK_HOBJECT_E_GET_VALUE(heap, global, i);
		if (DUK_HOBJECT_E_GET_FLAGS(heap, global, i) != was->flags ||
		    memcmp(&now, &was->value, sizeof(duk_propvalue)) != 0) {
			return -1;
		}
		kept++;
	}
	return kept == b->global_count ? added : -1;
}

static duk_ret_t quill__remove_added(duk_context *ctx, void *udata) {
	duk_hthread *thr = (duk_hthread *) ctx;
	const quill_duk_baseline *b = (const quill_duk_baseline *) udata;
	duk_idx_t base = duk_get_top(ctx);
	duk_int_t added = quill__added_globals(thr, b);
	duk_idx_t k;
	for (k = base; k < base + (added > 0 ? added : 0); k++) {
		(void) duk_hobject_delprop_raw(thr, thr->builtins[DUK_BIDX_GLOBAL], duk_known_hstring(thr, k),
		                               DUK_DELPROP_FLAG_FORCE);
	}
	duk_set_top(ctx, base);
	duk_push_int(ctx, (duk_int_t) added);
	return 1;
}

static int quill_duk_baseline_remove_added(duk_context *ctx, const quill_duk_baseline *b) {
	int round;
	/* Finalizers run by a removal may add globals again: a few rounds, then
	 * the heap counts as changed. */
	for (round = 0; round < 4; round++) {
		duk_int_t removed;
		if (duk_safe_call(ctx, quill__remove_added, (void *) b, 0, 1) != DUK_EXEC_SUCCESS) {
			duk_pop(ctx);
			return 0;
		}
		removed = duk_get_int(ctx, -1);
		duk_pop(ctx);
		if (removed <= 0) {
			return removed == 0;
		}
	}
	return 0;
}

int quill_duk_baseline_intact(duk_context *ctx, const quill_duk_baseline *b) {
	duk_hthread *thr = (duk_hthread *) ctx;
	size_t k;
	if (quill_duk_baseline_remove_added(ctx, b) == 0) {
		return 0;
	}
	for (k = 1; k < b->object_count; k++) {
		if (!quill__same(thr->heap, b, &b->objects[k])) {
			return 0;
		}
	}
	return 1;
}
