// A late-bound point-of-sale client in JScript: one sale line through Orbalin.
// cscript sale_line.js PROGID COMMAND
var progId = WScript.Arguments(0);
var command = parseInt(WScript.Arguments(1), 10);
var pos = new ActiveXObject(progId);
pos.Code = "B-2";
pos.Name = "Milk";
pos.Price = 0.5;
pos.Quantity = 4;
pos.DeviceNumber = 1;
WScript.Echo("Name=" + pos.Name + " Price=" + pos.Price);
pos.InitOrbalin();
pos.SendCommand(command);
WScript.Echo("status=" + pos.CheckStatus());
WScript.Echo("done");
