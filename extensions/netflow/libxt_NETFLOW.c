/*
 * iptables/ip6tables target "NETFLOW".
 *
 * The kernel target of that name exports flow records; it takes no
 * parameters, so the user-space side only has to make the tools accept the
 * name, carry no target data in the rule, and print the name back when a
 * rule is listed.  The family is left unspecified so that both the IPv4 and
 * the IPv6 tool offer the target.
 */
#include <getopt.h>
#include <stddef.h>
#include <stdio.h>
#include <xtables.h>

#define NETFLOW_EXPORT __attribute__((visibility("default")))

static void netflow_help(void)
{
	printf("NETFLOW target\n");
}

static int netflow_parse(int c, char **argv, int invert, unsigned int *flags,
			 const void *entry, struct xt_entry_target **target)
{
	(void)c;
	(void)argv;
	(void)invert;
	(void)flags;
	(void)entry;
	(void)target;
	return 1;
}

static void netflow_final_check(unsigned int flags)
{
	(void)flags;
}

static void netflow_print(const void *ip, const struct xt_entry_target *target,
			  int numeric)
{
	(void)ip;
	(void)target;
	(void)numeric;
	printf("NETFLOW ");
}

/* There are no options, so a saved rule is just the jump itself. */
static void netflow_save(const void *ip, const struct xt_entry_target *target)
{
	(void)ip;
	(void)target;
}

static const struct option netflow_opts[] = {
	{ .name = NULL },
};

static struct xtables_target netflow_target = {
	.version = XTABLES_VERSION,
	.next = NULL,
	.name = "NETFLOW",
	.real_name = NULL,
	.revision = 0,
	.ext_flags = 0,
	.family = NFPROTO_UNSPEC,
	.size = 0,
	.userspacesize = 0,
	.help = netflow_help,
	.init = NULL,
	.parse = netflow_parse,
	.final_check = netflow_final_check,
	.print = netflow_print,
	.save = netflow_save,
	.alias = NULL,
	.extra_opts = netflow_opts,
	.x6_parse = NULL,
	.x6_fcheck = NULL,
	.x6_options = NULL,
	.xlate = NULL,
};

/*
 * The tools only dlopen() the object, so registration has to happen from the
 * constructor.  The entry stays exported under its conventional name for
 * hosts that link the extension in and call it themselves.  libxtables
 * threads the record onto its list through `next`; a second registration of
 * the same record would link it to itself and every later lookup would spin
 * forever, so only the first call registers.
 */
NETFLOW_EXPORT void libxt_NETFLOW_init(void) __attribute__((constructor));

void libxt_NETFLOW_init(void)
{
	static int registered;

	if (registered)
		return;
	registered = 1;
	xtables_register_target(&netflow_target);
}
