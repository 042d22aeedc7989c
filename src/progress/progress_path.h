/* Inside the library and the updater only: the channel's socket path with the reason when
 * the private fallback was taken. */
#ifndef UPDATE_TOOL_PROGRESS_PATH_H
#define UPDATE_TOOL_PROGRESS_PATH_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* As utp_socket_path. When the folder in the temporary directory is held by someone else
 * and the one in the home folder is used instead, `why` (unless NULL) receives a sentence
 * saying so; otherwise it is left empty. */
size_t utp_resolve_socket_path(char *buffer, size_t size, char *why, size_t why_size);

/* 0 when the folder holding `socket_path` is a real folder of this user that nobody else
 * may enter; otherwise -1 with the reason in `why`. */
int utp_check_channel_folder(const char *socket_path, char *why, size_t why_size);

#ifdef __cplusplus
}
#endif

#endif
