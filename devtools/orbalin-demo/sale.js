// A point-of-sale client of Orbalin in JScript: one sale line, as sale.vbs.
// cscript //nologo sale.js
var pos = new ActiveXObject("Orbalin.OrbalinObj");

// Find the detector program (or start it from the path in WIN.INI,
// section [Orbalin], key Orbalin) and hand it the initialisation text.
pos.InitOrbalin();

pos.Code = "4711";
pos.Name = "Bread";   // keep "|" out of Code and Name: it separates the fields
pos.Price = 1.25;
pos.Quantity = 2;
pos.DeviceNumber = 1;
WScript.Echo("sale line: " + pos.Code + " " + pos.Name + " " + pos.Quantity + " x " + pos.Price);

// Command 1 with the current sale line; its meaning is the detector program's.
pos.SendCommand(1);
WScript.Echo("command 1 sent");

WScript.Echo("printer status: " + pos.CheckStatus());
pos = null;
WScript.Echo("done");
