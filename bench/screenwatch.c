/* screenwatch: starts a command and times it from outside, as the user sees it. The command's output is
 * dropped: a program under Wine leaves helpers behind that would hold a pipe open.
 *
 *   screenwatch run CMD...                    prints "elapsed_ms", "maxrss_kb" (the peak resident size of
 *                                             the process) and "status" once CMD has ended
 *   screenwatch frozen BITS TIMEOUT_S CMD...   watches a grid of the screen's pixels, compared on the top
 *       BITS bits of each channel: "covered_ms" when most have changed (a window stands over the screen),
 *       then "frozen_ms" when every one shows again what it showed before CMD started (-1 if not seen in
 *       time), then what "run" prints. Closing the window is left to the caller.
 */
#define _GNU_SOURCE
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#define GRID_X 4
#define GRID_Y 3
#define POINTS (GRID_X * GRID_Y)

static double now_ms(void)
{
	struct timespec ts;
	clock_gettime(CLOCK_MONOTONIC, &ts);
	return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

static pid_t start(char** argv)
{
	pid_t pid = fork();
	if (pid == 0) {
		int in = open("/dev/null", O_RDONLY), sink = open("/dev/null", O_WRONLY);
		dup2(in, 0);
		dup2(sink, 1);
		dup2(sink, 2);
		execvp(argv[0], argv);
		_exit(127);
	}
	return pid;
}

/* Waits for the command and prints how long it ran and its peak resident size. */
static int finish(pid_t pid, double t0)
{
	int status = 0;
	struct rusage usage;
	memset(&usage, 0, sizeof(usage));
	while (wait4(pid, &status, 0, &usage) < 0)
		if (errno != EINTR)
			return 2;
	printf("elapsed_ms %.3f\nmaxrss_kb %ld\nstatus %d\n", now_ms() - t0, usage.ru_maxrss,
		WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
	return 0;
}

/* The pixels of the grid, each reduced to the top `bits` bits of its channels. */
static void sample(Display* dpy, const int* xs, const int* ys, int bits, unsigned long* values)
{
	Visual* visual = DefaultVisual(dpy, DefaultScreen(dpy));
	unsigned long masks[3] = {visual->red_mask, visual->green_mask, visual->blue_mask};
	for (int i = 0; i < POINTS; ++i) {
		XImage* img = XGetImage(dpy, DefaultRootWindow(dpy), xs[i], ys[i], 1, 1, AllPlanes, ZPixmap);
		unsigned long pixel = img ? XGetPixel(img, 0, 0) : ~0UL, out = 0;
		for (int c = 0; c < 3; ++c) {
			unsigned long mask = masks[c], v = pixel & mask;
			int width = 0;
			while (mask && !(mask & 1)) {
				mask >>= 1;
				v >>= 1;
			}
			for (; mask & 1; mask >>= 1)
				width++;
			out = (out << 8) | (v >> (width > bits ? width - bits : 0));
		}
		values[i] = img ? out : ~0UL;
		if (img)
			XDestroyImage(img);
	}
}

static int frozen(char** argv, int bits, double timeout_ms)
{
	Display* dpy = XOpenDisplay(NULL);
	if (!dpy) {
		fprintf(stderr, "screenwatch: cannot open the display\n");
		return 2;
	}
	int width = DisplayWidth(dpy, DefaultScreen(dpy)), height = DisplayHeight(dpy, DefaultScreen(dpy));
	/* Spread over the whole screen, clear of its edges, so the one copy that draws the capture is seen whole.
	 */
	int xs[POINTS], ys[POINTS];
	for (int j = 0; j < GRID_Y; ++j)
		for (int i = 0; i < GRID_X; ++i) {
			xs[j * GRID_X + i] = (2 * i + 1) * width / (2 * GRID_X) + 3 * j;
			ys[j * GRID_X + i] = (2 * j + 1) * height / (2 * GRID_Y) + 5 * i;
		}
	unsigned long before[POINTS], now[POINTS];
	sample(dpy, xs, ys, bits, before);

	double t0 = now_ms();
	pid_t pid = start(argv);
	int covered = 0, status;
	struct timespec pause = {0, 1000000};
	for (;;) {
		/* The screen as it was shows through a window that has gone away too: only a running program
		   counts. */
		if (now_ms() - t0 > timeout_ms || waitpid(pid, &status, WNOHANG) == pid) {
			printf("frozen_ms -1\n");
			fflush(stdout);
			XCloseDisplay(dpy);
			return now_ms() - t0 > timeout_ms ? finish(pid, t0) : 1;
		}
		sample(dpy, xs, ys, bits, now);
		int same = 0;
		for (int i = 0; i < POINTS; ++i)
			same += now[i] == before[i];
		if (!covered && same <= POINTS / 4) {
			covered = 1;
			printf("covered_ms %.3f\n", now_ms() - t0);
			fflush(stdout);
		} else if (covered && same == POINTS) {
			printf("frozen_ms %.3f\n", now_ms() - t0);
			fflush(stdout);
			break;
		}
		nanosleep(&pause, NULL);
	}
	XCloseDisplay(dpy);
	return finish(pid, t0);
}

int main(int argc, char** argv)
{
	if (argc > 2 && !strcmp(argv[1], "run")) {
		double t0 = now_ms();
		return finish(start(argv + 2), t0);
	}
	if (argc > 4 && !strcmp(argv[1], "frozen"))
		return frozen(argv + 4, atoi(argv[2]), atof(argv[3]) * 1000.0);
	fprintf(stderr, "usage: screenwatch run CMD... | screenwatch frozen BITS TIMEOUT_S CMD...\n");
	return 2;
}
