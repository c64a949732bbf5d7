// Names of the resources in lumivo.rc and of the controls of its dialogs.
// Included by the script itself, by the user interface, by the script's
// reader and by the tests: plain #define lines only, which both the resource
// compiler and the reader understand.
#pragma once

// Dialog templates.
#define IDD_MAIN 802
#define IDD_GENERAL 156
#define IDD_OPTIONS 804
#define IDD_ABOUT 805

// Icons and the logo.
#define IDI_NORMAL 142
#define IDI_VPN 143
#define IDB_LOGO 154

// Main dialog.
#define IDC_TABS 1023

// General page.
#define IDC_PICTURE 155
#define IDC_INTRODUCTION 1028
#define IDC_CREDENTIALS_GROUP 1010
#define IDC_ID_LABEL 1002
#define IDC_ID 1003
#define IDC_PASSWORD_LABEL 1005
#define IDC_PASSWORD 1004
#define IDC_VPN_GROUP 1015
#define IDC_VPN_ADDRESS 1019
#define IDC_DISCONNECT_ALL 1018

// Options page (and IDC_VPN_GROUP).
#define IDC_CONNECTIONS_GROUP 1012
#define IDC_CONNECTIONS_ENABLED 1006
#define IDC_CONNECTIONS_PASSWORD_LABEL 1021
#define IDC_CONNECTIONS_PASSWORD 1020
#define IDC_VPN_ENABLED 1008
#define IDC_SAVE 1022

// About page (and IDC_PICTURE).
#define IDC_PRODUCT_NAME 1022
#define IDC_VERSION 1023
#define IDC_COPYRIGHT 1024
