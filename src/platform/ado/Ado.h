#pragma once
// The data-access components: native classes registered under the ProgIDs the logic creates,
// "ADODB.Connection", "ADODB.RecordSet", "ADODB.Command" and "ADODB.Stream" (and their class
// identifiers). Linking vm_platform_ado registers them at start-up; InstallAdoClasses() does it
// explicitly for code that creates objects during static initialisation.

namespace vm::ado {

void InstallAdoClasses();

// Connect modes, cursor and lock types, and the other values of the object model that callers
// pass as numbers.
enum ObjectState { adStateClosed = 0, adStateOpen = 1 };
enum CursorType { adOpenForwardOnly = 0, adOpenKeyset = 1, adOpenDynamic = 2, adOpenStatic = 3 };
enum LockType {
    adLockReadOnly = 1,
    adLockPessimistic = 2,
    adLockOptimistic = 3,
    adLockBatchOptimistic = 4
};
enum CommandType {
    adCmdText = 1,
    adCmdTable = 2,
    adCmdStoredProc = 4,
    adCmdUnknown = 8,
    adCmdFile = 256,
    adCmdTableDirect = 512
};
enum ExecuteOption { adExecuteNoRecords = 128 };
enum PersistFormat { adPersistADTG = 0, adPersistXML = 1 };
enum SearchDirection { adSearchForward = 1, adSearchBackward = -1 };
enum BookmarkStart { adBookmarkCurrent = 0, adBookmarkFirst = 1, adBookmarkLast = 2 };
enum Position { adPosUnknown = -1, adPosBOF = -2, adPosEOF = -3 };
enum Affect { adAffectCurrent = 1, adAffectGroup = 2, adAffectAll = 3 };
enum SchemaKind { adSchemaTables = 20 };

// Data types of fields and parameters.
enum DataType {
    adEmpty = 0,
    adSmallInt = 2,
    adInteger = 3,
    adSingle = 4,
    adDouble = 5,
    adCurrency = 6,
    adDate = 7,
    adBoolean = 11,
    adVariant = 12,
    adTinyInt = 16,
    adUnsignedTinyInt = 17,
    adUnsignedSmallInt = 18,
    adUnsignedInt = 19,
    adBigInt = 20,
    adUnsignedBigInt = 21,
    adGUID = 72,
    adBinary = 128,
    adChar = 129,
    adWChar = 130,
    adNumeric = 131,
    adDBDate = 133,
    adDBTime = 134,
    adDBTimeStamp = 135,
    adVarChar = 200,
    adLongVarChar = 201,
    adVarWChar = 202,
    adLongVarWChar = 203,
    adVarBinary = 204,
    adLongVarBinary = 205,
};

// Field attributes.
enum FieldAttribute {
    adFldUpdatable = 0x4,
    adFldUnknownUpdatable = 0x8,
    adFldFixed = 0x10,
    adFldIsNullable = 0x20,
    adFldMayBeNull = 0x40,
    adFldLong = 0x80,
    adFldRowID = 0x100,
    adFldKeyColumn = 0x8000,
};

} // namespace vm::ado
