/* OPC HDA 1.20 and OPC Common constants: standard attribute IDs and names,
   aggregate names, HDA quality flags and the published result codes. */
#ifndef OPCHDA_CONSTANTS_H
#define OPCHDA_CONSTANTS_H

/* Standard item attribute IDs. */
#define OPCHDA_DATA_TYPE            0x01
#define OPCHDA_DESCRIPTION          0x02
#define OPCHDA_ENG_UNITS            0x03
#define OPCHDA_STEPPED              0x04
#define OPCHDA_ARCHIVING            0x05
#define OPCHDA_DERIVE_EQUATION      0x06
#define OPCHDA_NODE_NAME            0x07
#define OPCHDA_PROCESS_NAME         0x08
#define OPCHDA_SOURCE_NAME          0x09
#define OPCHDA_SOURCE_TYPE          0x0A
#define OPCHDA_NORMAL_MAXIMUM       0x0B
#define OPCHDA_NORMAL_MINIMUM       0x0C
#define OPCHDA_ITEMID               0x0D
#define OPCHDA_MAX_TIME_INT         0x0E
#define OPCHDA_MIN_TIME_INT         0x0F
#define OPCHDA_EXCEPTION_DEV        0x10
#define OPCHDA_EXCEPTION_DEV_TYPE   0x11
#define OPCHDA_HIGH_ENTRY_LIMIT     0x12
#define OPCHDA_LOW_ENTRY_LIMIT      0x13

/* Standard attribute names. */
#define OPCHDA_ATTRNAME_DATA_TYPE          L"Data Type"
#define OPCHDA_ATTRNAME_DESCRIPTION        L"Description"
#define OPCHDA_ATTRNAME_ENG_UNITS          L"Eng Units"
#define OPCHDA_ATTRNAME_STEPPED            L"Stepped"
#define OPCHDA_ATTRNAME_ARCHIVING          L"Archiving"
#define OPCHDA_ATTRNAME_DERIVE_EQUATION    L"Derive Equation"
#define OPCHDA_ATTRNAME_NODE_NAME          L"Node Name"
#define OPCHDA_ATTRNAME_PROCESS_NAME       L"Process Name"
#define OPCHDA_ATTRNAME_SOURCE_NAME        L"Source Name"
#define OPCHDA_ATTRNAME_SOURCE_TYPE        L"Source Type"
#define OPCHDA_ATTRNAME_NORMAL_MAXIMUM     L"Normal Maximum"
#define OPCHDA_ATTRNAME_NORMAL_MINIMUM     L"Normal Minimum"
#define OPCHDA_ATTRNAME_ITEMID             L"ItemID"
#define OPCHDA_ATTRNAME_MAX_TIME_INT       L"Max Time Interval"
#define OPCHDA_ATTRNAME_MIN_TIME_INT       L"Min Time Interval"
#define OPCHDA_ATTRNAME_EXCEPTION_DEV      L"Exception Deviation"
#define OPCHDA_ATTRNAME_EXCEPTION_DEV_TYPE L"Exception Dev Type"
#define OPCHDA_ATTRNAME_HIGH_ENTRY_LIMIT   L"High Entry Limit"
#define OPCHDA_ATTRNAME_LOW_ENTRY_LIMIT    L"Low Entry Limit"

/* Standard aggregate names. */
#define OPCHDA_AGGRNAME_INTERPOLATIVE      L"Interpolative"
#define OPCHDA_AGGRNAME_TOTAL              L"Total"
#define OPCHDA_AGGRNAME_AVERAGE            L"Average"
#define OPCHDA_AGGRNAME_TIMEAVERAGE        L"Time Average"
#define OPCHDA_AGGRNAME_COUNT              L"Count"
#define OPCHDA_AGGRNAME_STDEV              L"Standard Deviation"
#define OPCHDA_AGGRNAME_MINIMUMACTUALTIME  L"Minimum Actual Time"
#define OPCHDA_AGGRNAME_MINIMUM            L"Minimum"
#define OPCHDA_AGGRNAME_MAXIMUMACTUALTIME  L"Maximum Actual Time"
#define OPCHDA_AGGRNAME_MAXIMUM            L"Maximum"
#define OPCHDA_AGGRNAME_START              L"Start"
#define OPCHDA_AGGRNAME_END                L"End"
#define OPCHDA_AGGRNAME_DELTA              L"Delta"
#define OPCHDA_AGGRNAME_REGSLOPE           L"Regression Line Slope"
#define OPCHDA_AGGRNAME_REGCONST           L"Regression Line Constant"
#define OPCHDA_AGGRNAME_REGDEV             L"Regression Line Error"
#define OPCHDA_AGGRNAME_VARIANCE           L"Variance"
#define OPCHDA_AGGRNAME_RANGE              L"Range"
#define OPCHDA_AGGRNAME_DURATIONGOOD       L"Duration Good"
#define OPCHDA_AGGRNAME_DURATIONBAD        L"Duration Bad"
#define OPCHDA_AGGRNAME_PERCENTGOOD        L"Percent Good"
#define OPCHDA_AGGRNAME_PERCENTBAD         L"Percent Bad"
#define OPCHDA_AGGRNAME_WORSTQUALITY       L"Worst Quality"
#define OPCHDA_AGGRNAME_ANNOTATIONS        L"Annotations"

/* HDA quality flags: the high 16 bits of the quality word. */
#define OPCHDA_EXTRADATA     0x00010000
#define OPCHDA_INTERPOLATED  0x00020000
#define OPCHDA_RAW           0x00040000
#define OPCHDA_CALCULATED    0x00080000
#define OPCHDA_NOBOUND       0x00100000
#define OPCHDA_NODATA        0x00200000
#define OPCHDA_DATALOST      0x00400000
#define OPCHDA_CONVERSION    0x00800000
#define OPCHDA_PARTIAL       0x01000000

/* OPC DA quality values: the low byte of the quality word. */
#ifndef OPC_QUALITY_GOOD
#define OPC_QUALITY_MASK       0xC0
#define OPC_STATUS_MASK        0xFC
#define OPC_LIMIT_MASK         0x03
#define OPC_QUALITY_BAD        0x00
#define OPC_QUALITY_UNCERTAIN  0x40
#define OPC_QUALITY_GOOD       0xC0
#define OPC_QUALITY_SUB_NORMAL 0x58
#endif

/* OPC HDA result codes. */
#ifndef OPC_S_NODATA
#define OPC_E_MAXEXCEEDED      ((HRESULT)0xC0041001L)
#define OPC_S_NODATA           ((HRESULT)0x40041002L)
#define OPC_S_MOREDATA         ((HRESULT)0x40041003L)
#define OPC_E_INVALIDAGGREGATE ((HRESULT)0xC0041004L)
#define OPC_S_CURRENTVALUE     ((HRESULT)0x40041005L)
#define OPC_S_EXTRADATA        ((HRESULT)0x40041006L)
#define OPC_W_NOFILTER         ((HRESULT)0x80041007L)
#define OPC_E_UNKNOWNATTRID    ((HRESULT)0xC0041008L)
#define OPC_E_NOT_AVAIL        ((HRESULT)0xC0041009L)
#define OPC_E_INVALIDDATATYPE  ((HRESULT)0xC004100AL)
#define OPC_E_DATAEXISTS       ((HRESULT)0xC004100BL)
#define OPC_E_INVALIDATTRID    ((HRESULT)0xC004100CL)
#define OPC_E_NODATAEXISTS     ((HRESULT)0xC004100DL)
#define OPC_S_INSERTED         ((HRESULT)0x4004100EL)
#define OPC_S_REPLACED         ((HRESULT)0x4004100FL)
#endif

/* OPC Common and DA result codes that HDA servers return. */
#ifndef OPC_E_INVALIDHANDLE
#define OPC_E_INVALIDHANDLE     ((HRESULT)0xC0040001L)
#define OPC_E_BADTYPE           ((HRESULT)0xC0040004L)
#define OPC_E_PUBLIC            ((HRESULT)0xC0040005L)
#define OPC_E_BADRIGHTS         ((HRESULT)0xC0040006L)
#define OPC_E_UNKNOWNITEMID     ((HRESULT)0xC0040007L)
#define OPC_E_INVALIDITEMID     ((HRESULT)0xC0040008L)
#define OPC_E_INVALIDFILTER     ((HRESULT)0xC0040009L)
#define OPC_E_UNKNOWNPATH       ((HRESULT)0xC004000AL)
#define OPC_E_RANGE             ((HRESULT)0xC004000BL)
#define OPC_E_DUPLICATENAME     ((HRESULT)0xC004000CL)
#define OPC_S_UNSUPPORTEDRATE   ((HRESULT)0x0004000DL)
#define OPC_S_CLAMP             ((HRESULT)0x0004000EL)
#define OPC_S_INUSE             ((HRESULT)0x0004000FL)
#define OPC_E_INVALIDCONFIGFILE ((HRESULT)0xC0040010L)
#define OPC_E_NOTFOUND          ((HRESULT)0xC0040011L)
#define OPC_E_INVALID_PID       ((HRESULT)0xC0040203L)
#endif

#endif /* OPCHDA_CONSTANTS_H */
