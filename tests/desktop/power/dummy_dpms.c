/* dummydpms: test-only Xorg module that gives screens of the "dummy" video
 * driver a DPMS hook which switches nothing, so the server offers the DPMS
 * extension and "xset dpms force off|on" / DPMSInfo report the level asked for.
 * Limits: no real power saving or blanking; dummy driver only; xorg-server 21.1 ABI. */
#include <string.h>
#include <xorg-server.h>
#include <xf86.h>
#include <xf86Priv.h>
#include <xf86Module.h>

static Bool (*dummy_probe)(DriverPtr, int);
static Bool (*dummy_screen_init)(ScreenPtr, int, char **);

static void dpms_set(ScrnInfoPtr scrn, int level, int flags)
{
    xf86DrvMsgVerb(scrn->scrnIndex, X_INFO, 3, "dummydpms: DPMS level %d\n", level);
}

/* The DPMS extension is set up after every ScreenInit and is only offered
 * when some screen has a DPMS hook, so the hook must be in place by then. */
static Bool screen_init(ScreenPtr screen, int argc, char **argv)
{
    if (!dummy_screen_init(screen, argc, argv))
        return FALSE;
    if (!xf86DPMSInit(screen, dpms_set, 0))
        xf86Msg(X_WARNING, "dummydpms: xf86DPMSInit failed\n");
    return TRUE;
}

/* Probe creates the ScrnInfoRecs; ScreenInit is only called later. */
static Bool probe(DriverPtr drv, int flags)
{
    Bool found = dummy_probe(drv, flags);

    for (int i = 0; i < xf86NumScreens; i++) {
        ScrnInfoPtr scrn = xf86Screens[i];
        if (scrn->drv == drv && scrn->ScreenInit != screen_init) {
            dummy_screen_init = scrn->ScreenInit;
            scrn->ScreenInit = screen_init;
        }
    }
    return found;
}

/* Identify runs once all driver modules are loaded and before any probing,
 * so the dummy driver is found here whatever order the modules load in. */
static void identify(int flags)
{
    for (int i = 0; i < xf86NumDrivers; i++) {
        DriverPtr drv = xf86DriverList[i];
        if (drv && drv->driverName && !strcmp(drv->driverName, "dummy") &&
            drv->Probe && drv->Probe != probe) {
            dummy_probe = drv->Probe;
            drv->Probe = probe;
        }
    }
    if (!dummy_probe)
        xf86Msg(X_WARNING, "dummydpms: the dummy driver is not loaded\n");
}

/* Claim no hardware, or the server would open a VT on our account. */
static Bool driver_func(ScrnInfoPtr scrn, xorgDriverFuncOp op, void *data)
{
    if (op != GET_REQUIRED_HW_INTERFACES)
        return FALSE;
    *(xorgHWFlags *) data = HW_SKIP_CONSOLE;
    return TRUE;
}

static DriverRec hook = {
    .driverVersion = 1,
    .driverName = "dummydpms",
    .Identify = identify,
    .driverFunc = driver_func,
};

static void *setup(void *module, void *opts, int *errmaj, int *errmin)
{
    static Bool done;

    if (!done) {
        done = TRUE;
        /* No module handle: the server drops drivers that claimed no screen
         * and would otherwise unload this code while dummy still calls it. */
        xf86AddDriver(&hook, NULL, 0);
    }
    return (void *) 1;
}

static XF86ModuleVersionInfo vers = {
    "dummydpms", "pairstream tests", MODINFOSTRING1, MODINFOSTRING2,
    XORG_VERSION_CURRENT, 1, 0, 0,
    ABI_CLASS_VIDEODRV, ABI_VIDEODRV_VERSION, MOD_CLASS_NONE, {0, 0, 0, 0}
};

_X_EXPORT XF86ModuleData dummydpmsModuleData = { &vers, setup, NULL };
