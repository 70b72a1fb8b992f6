/* LD_PRELOAD shim for sway 1.7 on wlroots 0.15's headless backend, which
 * rejects every commit that turns an output off or on ("Unsupported output
 * state fields: 0x8"). For headless outputs only, the on/off part is taken out
 * of the commit and applied with wlr_output_update_enabled(), as the DRM
 * backend does; the commit event then does not carry WLR_OUTPUT_STATE_ENABLED. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <wlr/backend/headless.h>
#include <wlr/interfaces/wlr_output.h>

typedef bool (*output_fn)(struct wlr_output *);

static bool wants_power_change(struct wlr_output *output) {
	return (output->pending.committed & WLR_OUTPUT_STATE_ENABLED) &&
		wlr_output_is_headless(output);
}

bool wlr_output_test(struct wlr_output *output) {
	static output_fn real;
	if (!real) {
		real = (output_fn)dlsym(RTLD_NEXT, "wlr_output_test");
	}
	if (!wants_power_change(output)) {
		return real(output);
	}
	// Test the rest as if the output already had the requested state; the
	// pending state is left as it was, since a test must not consume it.
	bool was_enabled = output->enabled;
	output->enabled = output->pending.enabled;
	output->pending.committed &= ~WLR_OUTPUT_STATE_ENABLED;
	bool ok = real(output);
	output->pending.committed |= WLR_OUTPUT_STATE_ENABLED;
	output->enabled = was_enabled;
	return ok;
}

bool wlr_output_commit(struct wlr_output *output) {
	static output_fn real;
	if (!real) {
		real = (output_fn)dlsym(RTLD_NEXT, "wlr_output_commit");
	}
	if (!wants_power_change(output)) {
		return real(output);
	}
	bool enable = output->pending.enabled;
	output->pending.committed &= ~WLR_OUTPUT_STATE_ENABLED;
	// Turn on before the rest of the commit (a mode may only be set on an
	// enabled output), turn off only once the rest has been accepted.
	if (enable) {
		wlr_output_update_enabled(output, true);
	}
	if (!real(output)) {
		if (enable) {
			wlr_output_update_enabled(output, false);
		}
		return false;
	}
	if (!enable) {
		wlr_output_update_enabled(output, false);
	}
	return true;
}
