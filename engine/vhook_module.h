/* The C interface of a frame hook module ("vhook" option).
 *
 * A module is a shared object exporting these entry points:
 *   Configure  called once when a task adds the module, with the option's
 *              words (argv[0] is the module file); stores its context in *ctxp
 *              and returns 0 on success. Optional when argc is 1.
 *   Process    called for every picture that the hook decision lets through,
 *              with the picture in the decoder's pixel format and its
 *              presentation time in microseconds. The module may change the
 *              picture's pixels in place.
 *   Release    called when the task's run state is freed. Optional.
 */
#ifndef CLIPMORA_VHOOK_MODULE_H
#define CLIPMORA_VHOOK_MODULE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct VHookPicture {
    uint8_t* data[4];
    int linesize[4];
} VHookPicture;

typedef int (*VHookConfigureFn)(void** ctxp, int argc, char* argv[]);
typedef void (*VHookProcessFn)(void* ctx, VHookPicture* picture, int pixelFormat, int width,
                               int height, int64_t pts);
typedef void (*VHookReleaseFn)(void* ctx);

#ifdef __cplusplus
}
#endif

#endif
