// Resource and control identifiers shared by the .rc script and the code.
#pragma once

#define IDI_APP 99
#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_MAIN 102
#define IDD_NETWORK_PRINTER 103
#define IDR_DRIVER_ARCHIVE 129

#define IDC_INSTALL 1000
#define IDC_EXIT 1001
#define IDC_GROUP_SYSTEM 1002
#define IDC_RADIO_64 1003
#define IDC_RADIO_32 1004
#define IDC_GROUP_MODEL 1005
#define IDC_LABEL_MODEL 1006
#define IDC_MODEL 1007
#define IDC_DEFAULT_PRINTER 1008
#define IDC_GROUP_PORT 1009
#define IDC_LABEL_PORT 1010
#define IDC_PORT 1011
#define IDC_USB_DETECT 1012
#define IDC_LANGUAGE 1013
#define IDC_LABEL_LANGUAGE 1014

// About box: the version text.
#define IDC_ABOUT_VERSION 1002

// Network-printer dialog: the label, the address and the status line.
#define IDC_NET_LABEL 1020
#define IDC_NET_ADDRESS 1021
#define IDC_NET_STATUS 1022

// System-menu commands of the About and the network-printer items.
#define IDM_ABOUTBOX 0x0010
#define IDM_NETWORK_PRINTER 0x0020

// Resource type of dialog initialisation data (control messages to send at creation).
#define RT_DLGINIT_DATA 240
