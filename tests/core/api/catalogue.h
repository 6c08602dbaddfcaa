// The module API's messages as the protocol documents them: 13 classes, their commands (command and response
// parameters) and events. Kept apart from api/wifiapi.xml on purpose, so the tests check the generated code
// against an independent copy of the catalogue.
#pragma once

static const char k_catalogue[] = R"(
class 0 dfu
cmd 0 reset | uint8 dfu | 
cmd 1 flash_set_address | uint32 address | uint16 result
cmd 2 flash_upload | uint8array data | uint16 result
cmd 3 flash_upload_finish |  | uint16 result
evt 0 boot | uint32 version
class 1 system
cmd 0 sync |  | 
cmd 1 reset | uint8 dfu | 
cmd 2 hello |  | 
cmd 3 set_max_power_saving_state | uint8 state | uint16 result
evt 0 boot | uint16 major, uint16 minor, uint16 patch, uint16 build, uint16 bootloader_version, uint16 tcpip_version, uint16 hw
evt 1 state | uint16 state
evt 2 sw_exception | uint32 address, uint8 type
evt 3 power_saving_state | uint8 state
class 2 config
cmd 0 get_mac | uint8 hw_interface | uint16 result, uint8 hw_interface
cmd 1 set_mac | uint8 hw_interface, hw_addr mac | uint16 result, uint8 hw_interface
evt 0 mac_address | uint8 hw_interface, hw_addr mac
class 3 sme
cmd 0 wifi_on |  | uint16 result
cmd 1 wifi_off |  | uint16 result
cmd 2 power_on | uint8 enable | uint16 result
cmd 3 start_scan | uint8 hw_interface, uint8array chList | uint16 result
cmd 4 stop_scan |  | uint16 result
cmd 5 set_password | uint8array password | uint8 status
cmd 6 connect_bssid | hw_addr bssid | uint16 result, uint8 hw_interface, hw_addr bssid
cmd 7 connect_ssid | uint8array ssid | uint16 result, uint8 hw_interface, hw_addr bssid
cmd 8 disconnect |  | uint16 result, uint8 hw_interface
cmd 9 set_scan_channels | uint8 hw_interface, uint8array chList | uint16 result
cmd 10 set_operating_mode | uint8 mode | uint16 result
cmd 11 start_ap_mode | uint8 channel, uint8 security, uint8array ssid | uint16 result, uint8 hw_interface
cmd 12 stop_ap_mode |  | uint16 result, uint8 hw_interface
cmd 13 scan_results_sort_rssi | uint8 amount | uint16 result
cmd 14 ap_client_disconnect | hw_addr mac_address | uint16 result, uint8 hw_interface
cmd 15 set_ap_password | uint8array password | uint8 status
cmd 16 set_ap_max_clients | uint8 max_clients | uint16 result, uint8 hw_interface
cmd 17 start_wps |  | uint16 result, uint8 hw_interface
cmd 18 stop_wps |  | uint16 result, uint8 hw_interface
cmd 19 get_signal_quality |  | uint16 result, uint8 hw_interface
cmd 20 start_ssid_scan | uint8array ssid | uint16 result
cmd 21 set_ap_hidden | uint8 hidden | uint16 result, uint8 hw_interface
cmd 22 set_11n_mode | uint8 mode | uint16 result, uint8 hw_interface
cmd 23 set_ap_client_isolation | uint8 isolation | uint16 result, uint8 hw_interface
evt 0 wifi_is_on | uint16 result
evt 1 wifi_is_off | uint16 result
evt 2 scan_result | hw_addr bssid, int8 channel, int16 rssi, int8 snr, uint8 secure, uint8array ssid
evt 3 scan_result_drop | hw_addr bssid
evt 4 scanned | int8 status
evt 5 connected | int8 status, uint8 hw_interface, hw_addr bssid
evt 6 disconnected | uint16 reason, uint8 hw_interface
evt 7 interface_status | uint8 hw_interface, uint8 status
evt 8 connect_failed | uint16 reason, uint8 hw_interface
evt 9 connect_retry | uint8 hw_interface
evt 10 ap_mode_started | uint8 hw_interface
evt 11 ap_mode_stopped | uint8 hw_interface
evt 12 ap_mode_failed | uint16 reason, uint8 hw_interface
evt 13 ap_client_joined | hw_addr mac_address, uint8 hw_interface
evt 14 ap_client_left | hw_addr mac_address, uint8 hw_interface
evt 15 scan_sort_result | hw_addr bssid, int8 channel, int16 rssi, int8 snr, uint8 secure, uint8array ssid
evt 16 scan_sort_finished | 
evt 17 wps_stopped | uint8 hw_interface
evt 18 wps_completed | uint8 hw_interface
evt 19 wps_failed | uint16 reason, uint8 hw_interface
evt 20 wps_credential_ssid | uint8 hw_interface, uint8array ssid
evt 21 wps_credential_password | uint8 hw_interface, uint8array password
evt 22 signal_quality | int8 rssi, uint8 hw_interface
class 4 tcpip
cmd 0 start_tcp_server | uint16 port, int8 default_destination | uint16 result, uint8 endpoint
cmd 1 tcp_connect | ipv4 address, uint16 port, int8 routing | uint16 result, uint8 endpoint
cmd 2 start_udp_server | uint16 port, int8 default_destination | uint16 result, uint8 endpoint
cmd 3 udp_connect | ipv4 address, uint16 port, int8 routing | uint16 result, uint8 endpoint
cmd 4 configure | ipv4 address, ipv4 netmask, ipv4 gateway, uint8 use_dhcp | uint16 result
cmd 5 dns_configure | uint8 index, ipv4 address | uint16 result
cmd 6 dns_gethostbyname | uint8array name | uint16 result
cmd 7 udp_bind | uint8 endpoint, uint16 port | uint16 result
cmd 8 dhcp_set_hostname | uint8array hostname | uint16 result
cmd 9 dhcp_enable_routing | uint8 enable | uint16 result
cmd 10 mdns_set_hostname | uint8array hostname | uint16 result
cmd 11 mdns_start |  | uint16 result
cmd 12 mdns_stop |  | uint16 result
cmd 13 dnssd_add_service | uint16 port, uint8 protocol, uint8array service | uint16 result, uint8 index
cmd 14 dnssd_add_service_instance | uint8 index, uint8array instance | uint16 result
cmd 15 dnssd_add_service_attribute | uint8 index, uint8array attribute | uint16 result
cmd 16 dnssd_remove_service | uint8 index | uint16 result
cmd 17 dnssd_start_service | uint8 index | uint16 result
cmd 18 dnssd_stop_service | uint8 index | uint16 result
cmd 19 multicast_join | ipv4 address | uint16 result
cmd 20 multicast_leave | ipv4 address | uint16 result
cmd 21 dhcp_configure | ipv4 address, ipv4 subnet_mask, uint32 lease_time | uint16 result
cmd 22 dhcp_clients |  | uint16 result, uint8 client_cnt
evt 0 configuration | ipv4 address, ipv4 netmask, ipv4 gateway, uint8 use_dhcp
evt 1 dns_configuration | uint8 index, ipv4 address
evt 2 endpoint_status | uint8 endpoint, ipv4 local_ip, uint16 local_port, ipv4 remote_ip, uint16 remote_port
evt 3 dns_gethostbyname_result | uint16 result, ipv4 address, uint8array name
evt 4 udp_data | uint8 endpoint, ipv4 source_address, uint16 source_port, uint16array data
evt 5 mdns_started | 
evt 6 mdns_failed | uint16 reason
evt 7 mdns_stopped | uint16 reason
evt 8 dnssd_service_started | uint8 index
evt 9 dnssd_service_failed | uint16 reason, uint8 index
evt 10 dnssd_service_stopped | uint16 reason, uint8 index
evt 11 dhcp_configuration | uint8 routing_enabled, ipv4 address, ipv4 subnet_mask, uint32 lease_time
evt 12 dhcp_client | ipv4 ip_address, hw_addr mac_address
class 5 endpoint
cmd 0 send | uint8 endpoint, uint8array data | uint16 result, uint8 endpoint
cmd 1 set_streaming | uint8 endpoint, uint8 streaming | uint16 result, uint8 endpoint
cmd 2 set_active | uint8 endpoint, uint8 active | uint16 result, uint8 endpoint
cmd 3 set_streaming_destination | uint8 endpoint, int8 streaming_destination | uint16 result, uint8 endpoint
cmd 4 close | uint8 endpoint | uint16 result, uint8 endpoint
cmd 5 set_transmit_size | uint8 endpoint, uint16 size | uint16 result, uint8 endpoint
cmd 6 disable | uint8 endpoint | uint16 result, uint8 endpoint
evt 0 syntax_error | uint16 result, uint8 endpoint
evt 1 data | uint8 endpoint, uint8array data
evt 2 status | uint8 endpoint, uint32 type, uint8 streaming, int8 destination, uint8 active
evt 3 closing | uint16 reason, uint8 endpoint
evt 4 error | uint16 reason, uint8 endpoint
class 6 hardware
cmd 0 set_soft_timer | uint32 time, uint8 handle, uint8 single_shot | uint16 result
cmd 1 external_interrupt_config | uint8 enable, uint8 polarity | uint16 result
cmd 2 change_notification_config | uint32 enable | uint16 result
cmd 3 change_notification_pullup | uint32 pullup | uint16 result
cmd 4 io_port_config_direction | uint8 port, uint16 mask, uint16 direction | uint16 result
cmd 5 io_port_config_open_drain | uint8 port, uint16 mask, uint16 open_drain | uint16 result
cmd 6 io_port_write | uint8 port, uint16 mask, uint16 data | uint16 result
cmd 7 io_port_read | uint8 port, uint16 mask | uint16 result, uint8 port, uint16 data
cmd 8 output_compare | uint8 index, uint8 bit32, uint8 timer, uint8 mode, uint32 compare_value | uint16 result
cmd 9 adc_read | uint8 input | uint16 result, uint8 input, uint16 value
cmd 10 rtc_init | uint8 enable, int16 drift | uint16 result
cmd 11 rtc_set_time | int16 year, int8 month, int8 day, int8 weekday, int8 hour, int8 minute, int8 second | uint16 result
cmd 12 rtc_get_time |  | uint16 result, int16 year, int8 month, int8 day, int8 weekday, int8 hour, int8 minute, int8 second
cmd 13 rtc_set_alarm | uint8 month, uint8 day, int8 weekday, uint8 hour, uint8 minute, uint8 second, uint8 repeat_mask, int16 repeat_count | uint16 result
cmd 14 uart_conf_set | uint8 id, uint32 rate, uint8 data_bits, uint8 stop_bits, uint8 parity, uint8 flow_ctrl | uint16 result
cmd 15 uart_conf_get | uint8 id | uint16 result
evt 0 soft_timer | uint8 handle
evt 1 change_notification | uint32 timestamp
evt 2 external_interrupt | uint8 irq, uint32 timestamp
evt 3 rtc_alarm | 
evt 4 uart_conf | uint8 id, uint32 rate, uint8 data_bits, uint8 stop_bits, uint8 parity, uint8 flow_ctrl
class 7 flash
cmd 0 ps_defrag |  | uint16 result
cmd 1 ps_dump |  | uint16 result
cmd 2 ps_erase_all |  | uint16 result
cmd 3 ps_save | uint16 key, uint8array value | uint16 result
cmd 4 ps_load | uint16 key | uint16 result, uint8array value
cmd 5 ps_erase | uint16 key | uint16 result
evt 0 ps_key | uint16 key, uint8array value
evt 1 ps_key_changed | uint16 key
evt 2 low_voltage | 
class 8 i2c
cmd 0 start_read | uint8 endpoint, uint16 slave_address, uint8 length | uint16 result
cmd 1 start_write | uint8 endpoint, uint16 slave_address | uint16 result
cmd 2 stop | uint8 endpoint | uint16 result
class 9 https
cmd 0 enable | uint8 https, uint8 dhcps, uint8 dnss | uint16 result
cmd 1 add_path | uint8 device, uint8array path | uint16 result
cmd 2 api_response | uint32 request, uint8array data | uint16 result
cmd 3 api_response_finish | uint32 request | uint16 result
evt 0 on_req | uint8 service
evt 1 button | uint8 number
evt 2 api_request | uint32 request, uint8 method, uint8array resource
evt 3 api_request_header | uint32 request, uint8array data
evt 4 api_request_data | uint32 request, uint8array data
evt 5 api_request_finished | uint32 request
class 10 ethernet
cmd 0 set_dataroute | uint8 route | uint16 result
cmd 1 close |  | 
cmd 2 connected |  | uint8 state
evt 0 link_status | uint8 state
class 11 sdhc
cmd 0 fopen | uint8 mode, uint8array fname | uint16 result
cmd 1 fclose | uint8 fhandle | uint16 result
cmd 2 fdir | uint8 mode, uint8array path | uint16 result
cmd 3 fread | uint8 fhandle, uint32 fsize | uint16 result
cmd 4 fwrite | uint8 fhandle, uint16array fdata | uint16 result
cmd 5 fdelete | uint8array fname | uint16 result
cmd 6 fmkdir | uint8array dir_name | uint16 result
cmd 7 fchdir | uint8array dir_name | uint16 result
cmd 8 frename | uint8 fhandle, uint8array new_name | uint16 result
cmd 9 fchmode | uint8 value, uint8array fname | uint16 result
evt 0 ready | uint8 fhandle, uint8 operation, uint16 result
evt 1 fdata | uint8 fhandle, uint16array data
evt 2 ffile | uint8 fhandle, uint32 fsize, uint8 fattrib, uint8array fname
evt 3 fpwd | uint8array fdir
class 12 util
cmd 0 atoi | uint8array string | int32 value
cmd 1 itoa | int32 value | uint8array string
)";
