/* screenwatch: starts a command and times it from outside, as the user sees it.
 *
 *   screenwatch run [--out FILE] -- CMD ARGS...
 *       Runs CMD to its end. Prints "elapsed_ms", "maxrss_kb" (the peak resident size of the process,
 *       as the kernel kept it) and "status".
 *   screenwatch frozen [--bits N] [--timeout S] [--out FILE] -- CMD ARGS...
 *       Reads a grid of pixels of the screen, starts CMD, and watches those pixels: "covered_ms" when most
 *       of them have changed (a window now stands over the screen), then "frozen_ms" when every one shows
 *       again what it showed before (the window now shows the screen as it was). Pixels are compared on
 *       the top N bits of each channel (default 8). Then it waits for CMD's end as "run" does; closing
 *       the window is left to the caller, who reads each line as it comes.
 *
 * Every line also carries a wall-clock stamp in nanoseconds ("*_realtime_ns"), so that stamps a program
 * takes inside the command can be set against these. CMD's output goes to FILE or is dropped: a program
 * under Wine leaves helpers behind that would hold a pipe open.
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
#include <sys/time.h>
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

static long long realtime_ns(void)
{
	struct timespec ts;
	clock_gettime(CLOCK_REALTIME, &ts);
	return ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

static pid_t start(char** argv, const char* out)
{
	pid_t pid = fork();
	if (pid < 0) {
		perror("screenwatch: fork");
		exit(2);
	}
	if (pid == 0) {
		int in = open("/dev/null", O_RDONLY);
		int sink = out ? open(out, O_WRONLY | O_CREAT | O_TRUNC, 0644) : open("/dev/null", O_WRONLY);
		if (in < 0 || sink < 0)
			_exit(126);
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
	while (wait4(pid, &status, 0, &usage) < 0) {
		if (errno != EINTR) {
			perror("screenwatch: wait4");
			return 2;
		}
	}
	double elapsed = now_ms() - t0;
	int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
	printf("elapsed_ms %.3f\nmaxrss_kb %ld\nstatus %d\nend_realtime_ns %lld\n", elapsed, usage.ru_maxrss,
		code, realtime_ns());
	fflush(stdout);
	return 0;
}

struct channel {
	int shift;
	int bits;
};

static struct channel channel_of(unsigned long mask)
{
	struct channel c = {0, 0};
	while (mask && !(mask & 1)) {
		mask >>= 1;
		c.shift++;
	}
	while (mask & 1) {
		mask >>= 1;
		c.bits++;
	}
	return c;
}

struct screen {
	Display* dpy;
	Window root;
	struct channel ch[3];
	int bits;
	int x[POINTS], y[POINTS];
};

/* A pixel's value reduced to the top `bits` bits of each of its channels. */
static unsigned long reduce(const struct screen* s, unsigned long pixel)
{
	unsigned long out = 0;
	for (int c = 0; c < 3; ++c) {
		unsigned long v = (pixel >> s->ch[c].shift) & ((1UL << s->ch[c].bits) - 1);
		int keep = s->bits < s->ch[c].bits ? s->bits : s->ch[c].bits;
		out = (out << 8) | (v >> (s->ch[c].bits - keep));
	}
	return out;
}

static void sample(const struct screen* s, unsigned long* values)
{
	for (int i = 0; i < POINTS; ++i) {
		XImage* img = XGetImage(s->dpy, s->root, s->x[i], s->y[i], 1, 1, AllPlanes, ZPixmap);
		values[i] = img ? reduce(s, XGetPixel(img, 0, 0)) : ~0UL;
		if (img)
			XDestroyImage(img);
	}
}

static int frozen(char** argv, int bits, double timeout_ms, const char* out)
{
	struct screen s;
	s.dpy = XOpenDisplay(NULL);
	if (!s.dpy) {
		fprintf(stderr, "screenwatch: cannot open the display\n");
		return 2;
	}
	s.root = DefaultRootWindow(s.dpy);
	Visual* visual = DefaultVisual(s.dpy, DefaultScreen(s.dpy));
	s.ch[0] = channel_of(visual->red_mask);
	s.ch[1] = channel_of(visual->green_mask);
	s.ch[2] = channel_of(visual->blue_mask);
	s.bits = bits;
	int width = DisplayWidth(s.dpy, DefaultScreen(s.dpy));
	int height = DisplayHeight(s.dpy, DefaultScreen(s.dpy));
	/* Spread over the whole screen, clear of its edges, so the one copy that draws the capture is
	   seen whole. */
	for (int j = 0; j < GRID_Y; ++j)
		for (int i = 0; i < GRID_X; ++i) {
			s.x[j * GRID_X + i] = (2 * i + 1) * width / (2 * GRID_X) + 3 * j;
			s.y[j * GRID_X + i] = (2 * j + 1) * height / (2 * GRID_Y) + 5 * i;
		}
	unsigned long before[POINTS], now[POINTS];
	sample(&s, before);

	double t0 = now_ms();
	long long t0_real = realtime_ns();
	pid_t pid = start(argv, out);
	printf("start_realtime_ns %lld\n", t0_real);
	fflush(stdout);

	int covered = 0;
	struct timespec pause = {0, 1000000};
	for (;;) {
		double t = now_ms() - t0;
		if (t > timeout_ms) {
			printf("frozen_ms -1\n");
			fflush(stdout);
			break;
		}
		sample(&s, now);
		int same = 0;
		for (int i = 0; i < POINTS; ++i)
			same += now[i] == before[i];
		if (!covered && same <= POINTS / 4) {
			covered = 1;
			printf("covered_ms %.3f\ncovered_realtime_ns %lld\n", now_ms() - t0, realtime_ns());
			fflush(stdout);
		} else if (covered && same == POINTS) {
			/* The screen as it was shows through a window that has gone away too: only a running
			   program counts. */
			int status;
			if (waitpid(pid, &status, WNOHANG) == pid) {
				printf("frozen_ms -1\nended_early %d\n", WIFEXITED(status) ? WEXITSTATUS(status) : -1);
				fflush(stdout);
				XCloseDisplay(s.dpy);
				return 1;
			}
			printf("frozen_ms %.3f\nfrozen_realtime_ns %lld\n", now_ms() - t0, realtime_ns());
			fflush(stdout);
			break;
		}
		int status;
		if (waitpid(pid, &status, WNOHANG) == pid) {
			printf("frozen_ms -1\nended_early %d\n", WIFEXITED(status) ? WEXITSTATUS(status) : -1);
			fflush(stdout);
			XCloseDisplay(s.dpy);
			return 1;
		}
		nanosleep(&pause, NULL);
	}
	XCloseDisplay(s.dpy);
	return finish(pid, t0);
}

static void usage(void)
{
	fprintf(stderr, "usage: screenwatch run [--out FILE] -- CMD...\n"
					"       screenwatch frozen [--bits N] [--timeout S] [--out FILE] -- CMD...\n");
	exit(2);
}

int main(int argc, char** argv)
{
	if (argc < 3)
		usage();
	const char* mode = argv[1];
	const char* out = NULL;
	int bits = 8;
	double timeout_s = 30;
	int i = 2;
	for (; i < argc && strcmp(argv[i], "--") != 0; ++i) {
		if (!strcmp(argv[i], "--out") && i + 1 < argc)
			out = argv[++i];
		else if (!strcmp(argv[i], "--bits") && i + 1 < argc)
			bits = atoi(argv[++i]);
		else if (!strcmp(argv[i], "--timeout") && i + 1 < argc)
			timeout_s = atof(argv[++i]);
		else
			usage();
	}
	if (i + 1 >= argc)
		usage();
	char** cmd = argv + i + 1;
	if (!strcmp(mode, "run")) {
		double t0 = now_ms();
		printf("start_realtime_ns %lld\n", realtime_ns());
		pid_t pid = start(cmd, out);
		return finish(pid, t0);
	}
	if (!strcmp(mode, "frozen"))
		return frozen(cmd, bits < 1 ? 1 : bits > 8 ? 8 : bits, timeout_s * 1000.0, out);
	usage();
	return 2;
}
