/*
 * Identifiers of the "Tag Format" dialog resource and its controls. Plain C
 * macros: the resource compiler reads this file as well as the C++ code.
 */
#ifndef MORVANE_TAG_FORMAT_RESOURCE_H
#define MORVANE_TAG_FORMAT_RESOURCE_H

#define IDD_TAG_FORMAT 101

/* Edit fields */
#define IDC_BLOCK_FIELD 1037
#define IDC_LOCATION_FIELD 1007
#define IDC_LENGTH_FIELD 1009
#define IDC_BIT_FIELD 1010

/* Spin arrows beside the edit fields (vertical scroll bars) */
#define IDC_BLOCK_ARROWS 1036
#define IDC_LOCATION_ARROWS 1006
#define IDC_LENGTH_ARROWS 1008
#define IDC_BIT_ARROWS 1011

/* Data type radio buttons */
#define IDC_TYPE_16_BITS 1062
#define IDC_TYPE_32_BITS 1063
#define IDC_TYPE_FLOAT 1064
#define IDC_TYPE_STRING 1001
#define IDC_TYPE_DIGITAL 1002

/* Labels */
#define IDC_BLOCK_LABEL 1057
#define IDC_LOCATION_LABEL 1058
#define IDC_BIT_LABEL 1055
#define IDC_LENGTH_LABEL 1012

/* Push buttons: the dialog manager's own OK and Cancel ids */
#define IDC_OK_BUTTON 1
#define IDC_CANCEL_BUTTON 2

#endif /* MORVANE_TAG_FORMAT_RESOURCE_H */
