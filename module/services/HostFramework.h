#pragma once
// The host framework services the module calls: base forms, controls, client data sets,
// the SQL query component, keyed messages, the busy indicator, the UI services and the
// context and helper functions.
#include "DBCtrls.h"
#include "DBGrid.h"
#include "Edits.h"
#include "FormHost.h"
#include "Forms.h"
#include "HostUi.h"
#include "StdCtrls.h"
#include "TBtnPesquisa.h"
#include "TfrmPadrao.h"
#include "TfrmRotiGeral.h"
#include "dataset/DataSet.h"
#include "errors/Dispatch.h"
#include "errors/Errors.h"
#include "host/Context.h"
#include "host/HostFunctions.h"
#include "messages/TMessages.h"
#include "sql/TADOIBQuery.h"
#include "ui/UiServices.h"
#include "values/Packet.h"
#include "values/Value.h"
