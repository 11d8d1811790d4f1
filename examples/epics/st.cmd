#!../../bin/linux-x86_64/tovrik
# An IOC built with asyn and StreamDevice (its dbd includes base.dbd, asyn.dbd,
# drvAsynIPPort.dbd and stream.dbd), with tovrik.db and tovrik.proto in its db folder.
# "host" is the machine running "tovrikctl serve --listen 0.0.0.0:5025 --allow <this IOC>".

< envPaths
cd "${TOP}"

dbLoadDatabase "dbd/tovrik.dbd"
tovrik_registerRecordDeviceDriver pdbbase

epicsEnvSet("STREAM_PROTOCOL_PATH", "$(TOP)/db")

# One TCP connection; the line ends are tovrik.proto's Terminator.
drvAsynIPPortConfigure("L0","host:5025")

dbLoadRecords("db/tovrik.db", "P=TOVRIK:,PORT=L0")

iocInit
