/* Runs a program as another user: asuser UID GID PROGRAM [ARG...]. Busybox
 * cannot drop root to a given user, and the unprivileged cases need one. */
#include <grp.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

int main(int argc, char **argv)
{
	if (argc < 4) {
		fprintf(stderr, "usage: asuser UID GID PROGRAM [ARG...]\n");
		return 127;
	}
	gid_t gid = (gid_t)atoi(argv[2]);
	if (setgroups(1, &gid) || setgid(gid) || setuid((uid_t)atoi(argv[1]))) {
		perror("asuser");
		return 127;
	}
	execv(argv[3], argv + 3);
	perror(argv[3]);
	return 127;
}
