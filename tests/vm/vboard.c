// SPDX-License-Identifier: (GPL-2.0 OR MIT)
/*
 * vboard: virtual VSA-100 boards on virtual PCI root buses, so that a program
 * meets them through the kernel's own PCI core and sysfs as it would meet
 * real ones.
 *
 * boards="bus:device:subsystem:bar0:pll[:option,...];..." (numbers in C
 * notation) puts one board per entry on function 0 of the given slot. The
 * subsystem id gives the chip count (0x0001: 4; 0x0002, 0x0003, 0x0009: 2;
 * others: 1). BAR0 decodes chips x 32 MiB; chip c's registers are the 32 MiB
 * window at BAR0 + c * 32 MiB, which must be RAM kept from the kernel (boot
 * with memmap=SIZE$ADDR): the word at offset 0x44 of each window, pllControl,
 * is set to `pll` at load. Options:
 *   unassigned  BAR0 reads 0 (the firmware gave it no address)
 *   io          BAR0 is an I/O BAR of 256 ports
 *   small       BAR0 decodes 32 MiB whatever the chip count
 *   held        the vsa100_holder driver binds the board and requests its
 *               regions, as a framebuffer driver would
 *   domain=N    the board's root bus is in PCI domain N (default 0)
 * Each distinct domain and bus gets a root bus of its own; the bus number must
 * not be one the machine already uses.
 *
 * Readback, independent of any program under test: debugfs "vboard" has one
 * line per board: its address, command register, the count of configuration
 * writes it received since load, and each chip's pllControl read from memory.
 *
 * reset_on_suspend=1 puts every chip's initial pll word back when the system
 * suspends, as the loss of power would.
 */
#include <linux/debugfs.h>
#include <linux/io.h>
#include <linux/ioport.h>
#include <linux/module.h>
#include <linux/pci.h>
#include <linux/seq_file.h>
#include <linux/slab.h>
#include <linux/string.h>
#include <linux/suspend.h>

#define VENDOR_3DFX 0x121a
#define DEVICE_VSA100 0x0009
#define MAX_BOARDS 16
#define CHIP_WINDOW SZ_32M
#define PLL_CONTROL 0x44
#define IO_BAR_SIZE 256
#define COMMAND_WRITABLE                                                  \
	(PCI_COMMAND_IO | PCI_COMMAND_MEMORY | PCI_COMMAND_MASTER |       \
	 PCI_COMMAND_PARITY | PCI_COMMAND_SERR | PCI_COMMAND_INTX_DISABLE)

struct vboard {
	int domain;
	u8 bus;
	u8 devfn;
	u16 subsystem;
	unsigned int chips;
	bool held;
	u32 bar0;	/* the register as it reads now */
	u32 bar_flags;	/* its read-only low bits */
	u32 bar_size;	/* what it decodes: the sizing protocol answers this */
	phys_addr_t base;	/* chip 0's window; 0: no memory behind the board */
	u32 pll;	/* every chip's pllControl at load */
	u16 command;
	u8 interrupt_line;
	unsigned long writes;
};

struct vroot {
	struct pci_sysdata sysdata;
	struct resource busn;
	struct pci_bus *bus;
};

static char *boards = "";
module_param(boards, charp, 0444);
MODULE_PARM_DESC(boards, "bus:device:subsystem:bar0:pll[:option,...];...");

static bool reset_on_suspend;
module_param(reset_on_suspend, bool, 0644);
MODULE_PARM_DESC(reset_on_suspend, "put the initial pll words back on suspend");

static struct vboard board_table[MAX_BOARDS];
static unsigned int board_count;
static struct vroot *roots[MAX_BOARDS];
static unsigned int root_count;
static struct resource window = {
	.name = "vboard",
	.flags = IORESOURCE_MEM,
};
static bool window_inserted;
static struct dentry *state_file;

static struct vboard *find_board(int domain, unsigned int bus,
				 unsigned int devfn)
{
	unsigned int i;

	for (i = 0; i < board_count; i++) {
		struct vboard *b = &board_table[i];

		if (b->domain == domain && b->bus == bus && b->devfn == devfn)
			return b;
	}
	return NULL;
}

static u32 config_dword(const struct vboard *b, int reg)
{
	switch (reg) {
	case PCI_VENDOR_ID:
		return DEVICE_VSA100 << 16 | VENDOR_3DFX;
	case PCI_COMMAND:
		return b->command;	/* status: nothing to report */
	case PCI_CLASS_REVISION:
		return PCI_CLASS_DISPLAY_VGA << 16 | 0x01;
	case PCI_BASE_ADDRESS_0:
		return b->bar0;
	case PCI_SUBSYSTEM_VENDOR_ID:
		return (u32)b->subsystem << 16 | VENDOR_3DFX;
	case PCI_INTERRUPT_LINE:
		return b->interrupt_line;	/* no interrupt pin */
	default:
		return 0;	/* header type 0, no capabilities */
	}
}

static u32 size_mask(int size)
{
	return size == 4 ? ~0u : (1u << (8 * size)) - 1;
}

/* Called under the PCI core's config lock, as every host bridge's are. */
static int vboard_read(struct pci_bus *bus, unsigned int devfn, int where,
		       int size, u32 *val)
{
	struct vboard *b = find_board(pci_domain_nr(bus), bus->number, devfn);

	if (!b) {
		*val = size_mask(size);	/* nobody answers */
		return PCIBIOS_SUCCESSFUL;
	}
	*val = config_dword(b, where & ~3) >> (8 * (where & 3)) &
	       size_mask(size);
	return PCIBIOS_SUCCESSFUL;
}

static int vboard_write(struct pci_bus *bus, unsigned int devfn, int where,
			int size, u32 val)
{
	struct vboard *b = find_board(pci_domain_nr(bus), bus->number, devfn);
	int reg = where & ~3, shift = 8 * (where & 3);
	u32 mask, value;

	if (!b)
		return PCIBIOS_SUCCESSFUL;
	b->writes++;
	mask = size_mask(size) << shift;
	value = (config_dword(b, reg) & ~mask) | ((val << shift) & mask);
	switch (reg) {
	case PCI_COMMAND:
		b->command = value & COMMAND_WRITABLE;
		break;
	case PCI_BASE_ADDRESS_0:
		/* All ones written reads back the size mask. */
		b->bar0 = (value & ~(b->bar_size - 1)) | b->bar_flags;
		break;
	case PCI_INTERRUPT_LINE:
		b->interrupt_line = value;
		break;
	}
	return PCIBIOS_SUCCESSFUL;
}

static struct pci_ops vboard_ops = {
	.read = vboard_read,
	.write = vboard_write,
};

static phys_addr_t pll_address(const struct vboard *b, unsigned int chip)
{
	return b->base + (phys_addr_t)chip * CHIP_WINDOW + PLL_CONTROL;
}

/* Uncached, one word at a time: the program under test maps the same RAM. */
static int pll_access(const struct vboard *b, unsigned int chip, u32 *value,
		      bool write)
{
	void __iomem *word = ioremap(pll_address(b, chip), sizeof(u32));

	if (!word)
		return -ENOMEM;
	if (write)
		writel(*value, word);
	else
		*value = readl(word);
	iounmap(word);
	return 0;
}

static int write_initial_plls(void)
{
	unsigned int i, chip;
	int err;

	for (i = 0; i < board_count; i++) {
		struct vboard *b = &board_table[i];

		for (chip = 0; b->base && chip < b->chips; chip++) {
			err = pll_access(b, chip, &b->pll, true);
			if (err)
				return err;
		}
	}
	return 0;
}

static int state_show(struct seq_file *s, void *unused)
{
	unsigned int i, chip;

	for (i = 0; i < board_count; i++) {
		const struct vboard *b = &board_table[i];
		char separator = '=';

		seq_printf(s, "%04x:%02x:%02x.%u command=0x%04x writes=%lu pll",
			   b->domain, b->bus, PCI_SLOT(b->devfn),
			   PCI_FUNC(b->devfn), READ_ONCE(b->command),
			   READ_ONCE(b->writes));
		for (chip = 0; b->base && chip < b->chips; chip++) {
			u32 value = 0;

			if (pll_access(b, chip, &value, false))
				return -ENOMEM;
			seq_printf(s, "%c0x%04x", separator, value);
			separator = ',';
		}
		if (separator == '=')
			seq_puts(s, "=none");
		seq_putc(s, '\n');
	}
	return 0;
}
DEFINE_SHOW_ATTRIBUTE(state);

static unsigned int chips_for(u16 subsystem)
{
	switch (subsystem) {
	case 0x0001:
		return 4;
	case 0x0002:
	case 0x0003:
	case 0x0009:
		return 2;
	default:
		return 1;
	}
}

static int __init parse_options(char *options, struct vboard *b,
				bool *unassigned, bool *io, bool *small)
{
	char *option;

	while ((option = strsep(&options, ","))) {
		if (!*option)
			continue;
		if (!strcmp(option, "unassigned"))
			*unassigned = true;
		else if (!strcmp(option, "io"))
			*io = true;
		else if (!strcmp(option, "small"))
			*small = true;
		else if (!strcmp(option, "held"))
			b->held = true;
		else if (!strncmp(option, "domain=", 7)) {
			if (kstrtoint(option + 7, 0, &b->domain) ||
			    b->domain < 0 || b->domain > 0xffff)
				return -EINVAL;
		} else
			return -EINVAL;
	}
	return 0;
}

static int __init parse_board(char *entry, struct vboard *b)
{
	char *field[6] = { NULL };
	unsigned int n = 0, bus, slot, subsystem, bar0, pll;
	bool unassigned = false, io = false, small = false;

	while (n < ARRAY_SIZE(field) && (field[n] = strsep(&entry, ":")))
		n++;
	if (n < 5 || entry || kstrtouint(field[0], 0, &bus) || bus > 0xff ||
	    kstrtouint(field[1], 0, &slot) || slot > 31 ||
	    kstrtouint(field[2], 0, &subsystem) || subsystem > 0xffff ||
	    kstrtouint(field[3], 0, &bar0) || kstrtouint(field[4], 0, &pll) ||
	    parse_options(field[5], b, &unassigned, &io, &small))
		return -EINVAL;

	b->bus = bus;
	b->devfn = PCI_DEVFN(slot, 0);
	b->subsystem = subsystem;
	b->chips = chips_for(subsystem);
	b->pll = pll;
	if (io || (bar0 & PCI_BASE_ADDRESS_SPACE_IO)) {
		b->bar_flags = PCI_BASE_ADDRESS_SPACE_IO;
		b->bar_size = IO_BAR_SIZE;
		b->bar0 = (bar0 & ~(IO_BAR_SIZE - 1)) | b->bar_flags;
		return 0;
	}
	b->bar_flags = bar0 & PCI_BASE_ADDRESS_MEM_PREFETCH;
	b->bar_size = (small ? 1 : b->chips) * CHIP_WINDOW;
	if (unassigned)
		bar0 = 0;
	b->base = bar0 & PCI_BASE_ADDRESS_MEM_MASK;
	if (b->base & (b->bar_size - 1))
		return -EINVAL;	/* hardware cannot hold it there */
	b->bar0 = b->base | b->bar_flags;
	return 0;
}

static int __init parse_boards(void)
{
	char *text, *rest, *entry;
	int err = 0;

	text = kstrdup(boards, GFP_KERNEL);
	if (!text)
		return -ENOMEM;
	rest = text;
	while (!err && (entry = strsep(&rest, ";"))) {
		entry = strim(entry);
		if (!*entry)
			continue;
		if (board_count == MAX_BOARDS) {
			err = -E2BIG;
			break;
		}
		err = parse_board(entry, &board_table[board_count]);
		if (!err && find_board(board_table[board_count].domain,
				       board_table[board_count].bus,
				       board_table[board_count].devfn))
			err = -EEXIST;
		if (err)
			pr_err("vboard: bad board '%s'\n", entry);
		else
			board_count++;
	}
	kfree(text);
	return err;
}

/* One window of memory for every root bus: the span of the boards' BARs. */
static int __init insert_window(void)
{
	unsigned int i;

	for (i = 0; i < board_count; i++) {
		const struct vboard *b = &board_table[i];
		resource_size_t end;

		if (!b->base)
			continue;
		end = b->base + b->bar_size - 1;
		if (!window.end || b->base < window.start)
			window.start = b->base;
		if (end > window.end)
			window.end = end;
	}
	if (!window.end)
		return 0;
	if (insert_resource(&iomem_resource, &window))
		return -EBUSY;
	window_inserted = true;
	return 0;
}

static int __init add_root_bus(int domain, unsigned int busnr)
{
	struct vroot *root;
	LIST_HEAD(resources);

	root = kzalloc(sizeof(*root), GFP_KERNEL);
	if (!root)
		return -ENOMEM;
	root->sysdata.domain = domain;
	root->sysdata.node = NUMA_NO_NODE;
	root->busn.name = "vboard";
	root->busn.start = busnr;
	root->busn.end = busnr;
	root->busn.flags = IORESOURCE_BUS;
	pci_add_resource(&resources, &root->busn);
	if (window_inserted)
		pci_add_resource(&resources, &window);

	root->bus = pci_create_root_bus(NULL, busnr, &vboard_ops,
					&root->sysdata, &resources);
	if (!root->bus) {
		pci_free_resource_list(&resources);
		kfree(root);
		return -ENODEV;
	}
	roots[root_count++] = root;

	pci_lock_rescan_remove();
	pci_scan_child_bus(root->bus);
	/* Only what the boards hold: an unassigned BAR0 stays unassigned. */
	pci_bus_claim_resources(root->bus);
	pci_bus_add_devices(root->bus);
	pci_unlock_rescan_remove();
	return 0;
}

static void remove_root_buses(void)
{
	while (root_count) {
		struct vroot *root = roots[--root_count];

		pci_lock_rescan_remove();
		pci_stop_root_bus(root->bus);
		pci_remove_root_bus(root->bus);
		pci_unlock_rescan_remove();
		kfree(root);
	}
}

static int holder_probe(struct pci_dev *pdev, const struct pci_device_id *id)
{
	struct vboard *b = find_board(pci_domain_nr(pdev->bus),
				      pdev->bus->number, pdev->devfn);
	int err;

	if (!b || !b->held)
		return -ENODEV;
	err = pci_enable_device(pdev);
	if (err)
		return err;
	err = pci_request_regions(pdev, "vsa100_holder");
	if (err)
		pci_disable_device(pdev);
	return err;
}

static void holder_remove(struct pci_dev *pdev)
{
	pci_release_regions(pdev);
	pci_disable_device(pdev);
}

/* No MODULE_DEVICE_TABLE: nothing should load this module for a real board. */
static const struct pci_device_id holder_ids[] = {
	{ PCI_DEVICE(VENDOR_3DFX, DEVICE_VSA100) },
	{ }
};

static struct pci_driver holder_driver = {
	.name = "vsa100_holder",
	.id_table = holder_ids,
	.probe = holder_probe,
	.remove = holder_remove,
};
static bool holder_registered;

static int vboard_pm(struct notifier_block *nb, unsigned long action,
		     void *data)
{
	if (action == PM_SUSPEND_PREPARE && reset_on_suspend)
		write_initial_plls();
	return NOTIFY_DONE;
}

static struct notifier_block pm_notifier = {
	.notifier_call = vboard_pm,
};

static void vboard_cleanup(void)
{
	unregister_pm_notifier(&pm_notifier);
	debugfs_remove(state_file);
	if (holder_registered)
		pci_unregister_driver(&holder_driver);
	remove_root_buses();
	if (window_inserted)
		release_resource(&window);
}

static int __init vboard_init(void)
{
	unsigned int i, j;
	int err;

	err = parse_boards();
	if (err)
		return err;
	err = insert_window();
	if (err) {
		pr_err("vboard: %pR is not free memory\n", &window);
		return err;
	}
	err = write_initial_plls();
	if (err)
		goto fail;
	for (i = 0; i < board_count; i++) {
		const struct vboard *b = &board_table[i];

		for (j = 0; j < i; j++)
			if (board_table[j].domain == b->domain &&
			    board_table[j].bus == b->bus)
				break;
		if (j < i)
			continue;	/* its root bus is there already */
		err = add_root_bus(b->domain, b->bus);
		if (err) {
			pr_err("vboard: cannot add root bus %04x:%02x\n",
			       b->domain, b->bus);
			goto fail;
		}
	}
	err = pci_register_driver(&holder_driver);
	if (err)
		goto fail;
	holder_registered = true;
	state_file = debugfs_create_file("vboard", 0444, NULL, NULL,
					 &state_fops);
	register_pm_notifier(&pm_notifier);
	return 0;
fail:
	vboard_cleanup();
	return err;
}

static void __exit vboard_exit(void)
{
	vboard_cleanup();
}

module_init(vboard_init);
module_exit(vboard_exit);
MODULE_DESCRIPTION("Virtual VSA-100 boards on virtual PCI root buses, for tests");
MODULE_LICENSE("Dual MIT/GPL");
